#pragma once
// The shape of this program's temporary names, "TARGET.plotmint-tmp-PID-RANDOM", shared by
// both platforms' implementations: the one that makes a name and the one that judges a
// leftover must agree. Only src/platform/ includes this.
#include <cstddef>
#include <string_view>

namespace plotmint::platform::detail {

inline constexpr std::string_view kTempMarker = ".plotmint-tmp-";
inline constexpr size_t kRandomHexDigits = 16;

// The PID in a temporary's name, or 0 when `name` is not of that shape.
inline long temporary_owner(std::string_view name) {
    const size_t at = name.rfind(kTempMarker);
    if (at == std::string_view::npos || at == 0) return 0;
    std::string_view rest = name.substr(at + kTempMarker.size());
    const size_t dash = rest.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > 9) return 0;
    long pid = 0;
    for (size_t i = 0; i < dash; ++i) {
        if (rest[i] < '0' || rest[i] > '9') return 0;
        pid = pid * 10 + (rest[i] - '0');
    }
    const std::string_view random = rest.substr(dash + 1);
    if (random.size() != kRandomHexDigits) return 0;
    for (const char c : random)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
    return pid;
}

}  // namespace plotmint::platform::detail
