#pragma once
// printf-style formatting into std::string, so messages keep their exact C formats.
#include <cstdarg>
#include <cstdio>
#include <string>

namespace plotmint {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string strformat(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        std::vsnprintf(out.data(), out.size() + 1, fmt, ap2);
    }
    va_end(ap2);
    return out;
}

}  // namespace plotmint
