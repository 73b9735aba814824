// The calling thread's last error, as a Windows library leaves it for its
// caller when a result alone cannot say what went wrong.
#pragma once

#include "platform/win32/types.h"

namespace win32 {

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;

QUILLON_WIN32_API void SetLastError(DWORD error);
// ERROR_SUCCESS until a call of this thread sets another.
QUILLON_WIN32_API DWORD GetLastError();

} // namespace win32
