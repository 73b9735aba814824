// Windows base types as the rest of the system uses them: handles and message
// parameters are pointer-sized, strings are UTF-8 in std::string.
#pragma once

#include <cstdint>

#define QUILLON_WIN32_API __attribute__((visibility("default")))

struct HWND__;
struct HDC__;
using HWND = HWND__ *;
using HDC = HDC__ *;

using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using BOOL = int;
using BYTE = std::uint8_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using ULONG_PTR = std::uintptr_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
