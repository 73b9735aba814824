// ANSI (UTF-8 here) and UTF-16 conversions, as MultiByteToWideChar with CP_ACP.
#pragma once

#include "platform/win32/types.h"

#include <string>

namespace win32 {

// A Linux file name is bytes and need not be valid UTF-8: each byte that is not
// part of a valid UTF-8 sequence becomes the lone surrogate U+DC80..U+DCFF
// (0xDC00 + the byte), and WideToAnsi writes such a surrogate back as that
// byte, so that any byte sequence goes there and back unchanged.
QUILLON_WIN32_API std::u16string AnsiToWide(const std::string &text);
// Other unpaired surrogates, which no byte sequence gives, become U+FFFD.
QUILLON_WIN32_API std::string WideToAnsi(const std::u16string &text);

} // namespace win32
