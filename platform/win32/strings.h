// ANSI (UTF-8 here) and UTF-16 conversions, as MultiByteToWideChar with CP_ACP.
#pragma once

#include "platform/win32/types.h"

#include <string>

namespace win32 {

// Invalid UTF-8 bytes become U+FFFD each.
QUILLON_WIN32_API std::u16string AnsiToWide(const std::string &text);
// Unpaired surrogates become U+FFFD.
QUILLON_WIN32_API std::string WideToAnsi(const std::u16string &text);

} // namespace win32
