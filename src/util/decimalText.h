// Small numbers given as text, such as the values of the tool's environment variables.
#pragma once

#include <optional>

// The value of `text` when it is nothing but decimal digits and names a number from `least` to
// `most` (0 <= least <= most); nothing otherwise (no text, no digits, a sign, spaces, a
// number out of range however many digits it has).
inline std::optional<int> parseDecimalInRange(const char* text, int least, int most) {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    int value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return std::nullopt;
        }
        value = value * 10 + (*p - '0');
        if (value > most) {
            return std::nullopt;
        }
    }
    if (value < least) {
        return std::nullopt;
    }
    return value;
}
