#pragma once
// Cell and table-line numbers are read the way "%d" reads them: leading white space,
// an optional sign, digits; whatever follows is ignored.
#include <cstdint>
#include <optional>
#include <string_view>

namespace plotmint {

struct ParsedInt {
    int32_t value;
    size_t end;  // index just past the last digit
};

// Parses one "%d" integer starting at `pos`. A number outside the 32-bit range is
// treated as no number at all, so it can never wrap into a plausible value.
inline std::optional<ParsedInt> parse_int_at(std::string_view s, size_t pos = 0) {
    size_t i = pos;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' ||
                            s[i] == '\v' || s[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const size_t digits_start = i;
    int64_t magnitude = 0;
    bool overflow = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (!overflow) {
            magnitude = magnitude * 10 + (s[i] - '0');
            if (magnitude > 2147483648LL) overflow = true;
        }
        ++i;
    }
    if (i == digits_start || overflow) return std::nullopt;
    const int64_t v = negative ? -magnitude : magnitude;
    if (v > INT32_MAX || v < INT32_MIN) return std::nullopt;
    return ParsedInt{static_cast<int32_t>(v), i};
}

inline std::optional<int32_t> parse_int(std::string_view s) {
    auto p = parse_int_at(s, 0);
    if (!p) return std::nullopt;
    return p->value;
}

}  // namespace plotmint
