// Number conversions with the framework's rules: a whole decimal number with an
// optional sign, nothing around it, within 32 bits.
#pragma once

#include "platform/forms/errors.h"

#include <charconv>
#include <optional>
#include <string>

namespace forms {

inline std::optional<int> TryStrToInt(const std::string &text)
{
    const char *first = text.data();
    const char *last = first + text.size();
    if (first != last && *first == '+') {
        ++first;
        if (first == last || *first < '0' || *first > '9')
            return std::nullopt;
    }
    int value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value, 10);
    if (ec != std::errc() || ptr != last)
        return std::nullopt;
    return value;
}

// Raises EConvertError "'%s' is not a valid integer value".
inline int StrToInt(const std::string &text)
{
    if (auto value = TryStrToInt(text))
        return *value;
    throw EConvertError::invalidInteger(text);
}

inline int StrToIntDef(const std::string &text, int fallback)
{
    return TryStrToInt(text).value_or(fallback);
}

} // namespace forms
