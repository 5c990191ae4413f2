#pragma once
// x87 extended-precision arithmetic where long double is IEEE binary128 (wasm): each
// operation is done in binary128 together with its exact error and rounded once to a 64-bit
// significand, nearest even, which gives the x87 result bit for bit. The Hershey layout
// uses it so that the browser build places text where x86 builds do;
// tools/hershey_ext80_check.cpp checks it against integer arithmetic.
#include <cfloat>
#include <cmath>
#include <cstring>

#if LDBL_MANT_DIG == 113
namespace plotmint::x87 {

// `v` rounded to a 64-bit significand; `err` is what the exact result lies beyond `v`,
// which decides a tie that binary128 rounding has already made look exact.
inline long double round_to_64_bits(long double v, long double err) {
    unsigned __int128 bits;
    static_assert(sizeof bits == sizeof v);
    std::memcpy(&bits, &v, sizeof bits);
    constexpr unsigned __int128 one = 1;
    constexpr int dropped = 113 - 64;
    constexpr unsigned __int128 low_mask = (one << dropped) - 1, half = one << (dropped - 1);
    const unsigned __int128 low = bits & low_mask;
    bits &= ~low_mask;
    bool up;
    if (low != half)
        up = low > half;
    else if (err == 0)
        up = ((bits >> dropped) & 1) != 0;
    else
        up = (err > 0) == (v > 0);
    // A carry out of the significand steps the exponent, as it should.
    if (up) bits += one << dropped;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

inline long double mul(long double a, long double b) {
    const long double p = a * b;
    return round_to_64_bits(p, std::fma(a, b, -p));
}

inline long double add(long double a, long double b) {
    const long double s = a + b;
    const long double bb = s - a;
    return round_to_64_bits(s, (a - (s - bb)) + (b - bb));
}

}  // namespace plotmint::x87
#endif
