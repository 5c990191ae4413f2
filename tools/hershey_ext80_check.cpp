// Checks the binary128 side of the Hershey layout's x87 arithmetic (src/text/hershey.cpp):
// products and sums of 64-bit significands, rounded to 64 bits through binary128 and the
// exact error, against integer arithmetic; most products are built to lie on or next to a
// rounding tie, where a plain binary128 result rounded again would go wrong. Built with em++
// and run with node:
//   em++ -std=c++20 -O2 -Isrc -sENVIRONMENT=node tools/hershey_ext80_check.cpp -o c.cjs
//   node --no-experimental-fetch c.cjs
// It prints "N passed, N failed" and exits non-zero on a failure.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "text/x87_arith.h"

static_assert(LDBL_MANT_DIG == 113, "the check is for binary128 long double");

using u128 = unsigned __int128;

using plotmint::x87::add;
using plotmint::x87::mul;

// p * 2^scale rounded to nearest even at 64 bits (p at least 2^64).
static long double round_integer(u128 p, int scale) {
    int shift = 0;
    while (shift < 64 && (p >> (64 + shift)) != 0) ++shift;
    uint64_t m = static_cast<uint64_t>(p >> shift);
    const u128 rest = shift ? p & ((static_cast<u128>(1) << shift) - 1) : 0;
    const u128 half = shift ? static_cast<u128>(1) << (shift - 1) : 0;
    int e = shift + scale;
    if (shift > 0 && (rest > half || (rest == half && (m & 1)))) {
        if (++m == 0) {
            m = uint64_t{1} << 63;
            ++e;
        }
    }
    return std::ldexp(static_cast<long double>(m), e);
}

// a * b rounded to nearest even at 64 bits.
static long double reference(uint64_t a, uint64_t b) { return round_integer(static_cast<u128>(a) * b, 0); }

static uint64_t state = 0x243f6a8885a308d3u;
static uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

// The inverse of an odd number modulo 2^64 (Newton's iteration).
static uint64_t inverse(uint64_t a) {
    uint64_t x = a;
    for (int i = 0; i < 6; ++i) x *= 2 - a * x;
    return x;
}

int main() {
    long passed = 0, failed = 0;
    for (long i = 0; i < 2000000; ++i) {
        const uint64_t a = next() | (uint64_t{1} << 63) | 1;
        uint64_t b;
        if (i % 4 == 0) {
            b = next() | (uint64_t{1} << 63);
        } else {
            // The product's low 64 bits land within 2^15 of a tie at 128-bit products (or
            // exactly on one), below what binary128 keeps.
            const int64_t k = static_cast<int64_t>(next() % 65536) - 32768;
            const uint64_t low = (uint64_t{1} << 63) + static_cast<uint64_t>(i % 8 == 1 ? 0 : k);
            b = low * inverse(a);
            if (!(b >> 63)) continue;
        }
        const long double got = mul(static_cast<long double>(a), static_cast<long double>(b));
        const long double want = reference(a, b);
        if (got == want) {
            ++passed;
        } else if (++failed <= 5) {
            std::printf("a=%016llx b=%016llx differs\n", static_cast<unsigned long long>(a),
                        static_cast<unsigned long long>(b));
        }
    }
    // a + b and a - b for b 1 to 64 places below a: the exact result needs up to 128 bits.
    // Half of them have b 64 places down and just above a power of two, so that the exact
    // result lies a little beside a tie that binary128 cannot tell from the tie itself.
    for (long i = 0; i < 1000000; ++i) {
        uint64_t a = next() | (uint64_t{1} << 63);
        if (a == UINT64_MAX) --a;  // so that a * 2^64 + b fits in 128 bits
        const bool near_tie = (i & 2) != 0;
        const uint64_t b = near_tie ? (uint64_t{1} << 63) + next() % (1 << 14) : next() | (uint64_t{1} << 63);
        const int d = near_tie ? 64 : static_cast<int>(1 + next() % 64);
        const bool minus = (i & 1) != 0;
        const u128 big = static_cast<u128>(a) << d;
        const u128 exact = minus ? big - b : big + b;
        const long double la = std::ldexp(static_cast<long double>(a), d);
        const long double lb = static_cast<long double>(b);
        const long double got = minus ? add(la, -lb) : add(la, lb);
        // Below 2^64 only when d is small, and then it is exact.
        const long double want = exact >> 64 ? round_integer(exact, 0) : static_cast<long double>(exact);
        if (got == want) {
            ++passed;
        } else if (++failed <= 10) {
            std::printf("a=%016llx b=%016llx d=%d %s differs\n", static_cast<unsigned long long>(a),
                        static_cast<unsigned long long>(b), d, minus ? "-" : "+");
        }
    }
    std::printf("%ld passed, %ld failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
