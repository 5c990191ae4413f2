/* Checks the MinGW iconv stand-in against glibc's iconv on the build machine: every case
 * must give the same result, errno, bytes consumed and bytes written.
 *   cc -std=c99 -Wall tools/windows/iconv_test.c -o iconv_test && ./iconv_test */
#define iconv_t shim_iconv_t
#define iconv_open shim_iconv_open
#define iconv shim_iconv
#define iconv_close shim_iconv_close
#include "iconv.c"
#undef iconv_t
#undef iconv_open
#undef iconv
#undef iconv_close

#include <iconv.h>
#include <stdio.h>

struct outcome {
    size_t result;
    int error;
    size_t consumed;
    size_t written;
    char out[64];
};

struct test_case {
    const char* to;
    const char* from;
    const char* in;
    size_t in_len;
    size_t room;
};

#define CASE(to, from, lit, room) {to, from, lit, sizeof(lit) - 1, room}

static const struct test_case cases[] = {
    CASE("UTF-16LE", "UTF-8", "A\xc3\xa9\xe2\x82\xac\xe4\xb8\xad\xf0\x9f\x98\x80", 64),
    CASE("UTF-16LE", "UTF-8", "a\xc0\x80", 64),          /* overlong NUL */
    CASE("UTF-16LE", "UTF-8", "a\xe0\x80\xaf", 64),      /* overlong slash */
    CASE("UTF-16LE", "UTF-8", "a\xed\xa0\x80", 64),      /* a surrogate */
    CASE("UTF-16LE", "UTF-8", "a\xf4\x90\x80\x80", 64),  /* past U+10FFFF */
    CASE("UTF-16LE", "UTF-8", "a\xe4\xb8", 64),          /* stops inside a character */
    CASE("UTF-16LE", "UTF-8", "a\x80z", 64),             /* a lone continuation byte */
    CASE("UTF-16LE", "UTF-8", "a\xff", 64),
    CASE("UTF-16LE", "UTF-8", "a\xc3z", 64),             /* a lead byte without its tail */
    CASE("UTF-16LE", "UTF-8", "\xc3\xa9\xc3\xa9", 3),    /* room for one of two */
    CASE("UTF-16LE", "UTF-8", "\xf0\x9f\x98\x80", 3),    /* no room for the pair */
    CASE("UTF-8", "UTF-16LE", "A\0\xe9\0\x3d\xd8\x00\xde", 64),
    CASE("UTF-8", "UTF-16LE", "A\0\x3d\xd8", 64),        /* high surrogate at the end */
    CASE("UTF-8", "UTF-16LE", "A\0\x00\xde", 64),        /* lone low surrogate */
    CASE("UTF-8", "UTF-16LE", "A\0\x3d\xd8\x41\x00", 64),/* high surrogate, then no low */
    CASE("UTF-8", "UTF-16LE", "A\0B", 64),               /* odd length */
    CASE("UTF-8", "UTF-16LE", "\xac\x20\xac\x20", 4),    /* room for one euro sign */
    CASE("UTF-16LE", "UTF-32LE", "A\0\0\0\x00\xf6\x01\0", 64),
    CASE("UTF-16LE", "UTF-32LE", "A\0\0\0\x00\x00\x11\0", 64),  /* past U+10FFFF */
    CASE("UTF-16LE", "UTF-32LE", "A\0\0\0\x00\xd8\0\0", 64),    /* a surrogate */
    CASE("UTF-16LE", "UTF-32LE", "A\0\0\0\x00\xd8\0", 64),      /* stops inside */
    CASE("UTF-32LE", "UTF-16LE", "A\0\x3d\xd8\x00\xde", 64),
    CASE("UTF-32LE", "LATIN1", "A\xe9\xff", 64),
    CASE("UTF-32LE", "UTF-8", "A\xc3\xa9\xf0\x9f\x98\x80", 64),
    CASE("UTF-8", "UTF-32LE", "A\0\0\0\xe9\0\0\0\x00\xf6\x01\0", 64),
    CASE("UTF-8", "LATIN1", "\x01\x7f\x80\xa0\xe9\xff", 64),
    CASE("LATIN1", "UTF-8", "a\xc3\xa9z", 64),
    CASE("LATIN1", "UTF-8", "a\xe4\xb8\xadz", 64),       /* no Latin-1 form */
    CASE("LATIN1//TRANSLIT", "UTF-8", "a\xe4\xb8\xadz\xc3\xa9", 64),
    CASE("LATIN1//TRANSLIT", "UTF-16LE", "a\0\x2d\x4e\xe9\0", 64),
    CASE("LATIN1//TRANSLIT", "UTF-8", "a\xe4\xb8\xad", 1), /* no room for the '?' */
    CASE("latin1", "utf-8", "a\xc3\xa9", 64),            /* names in any case */
};

static struct outcome run(int shim, const struct test_case* t) {
    struct outcome o;
    memset(&o, 0, sizeof o);
    char in[64];
    memcpy(in, t->in, t->in_len);
    char* inp = in;
    char* outp = o.out;
    size_t in_left = t->in_len, out_left = t->room;
    errno = 0;
    if (shim) {
        shim_iconv_t cd = shim_iconv_open(t->to, t->from);
        if (cd == (shim_iconv_t)-1) { o.result = (size_t)-2; return o; }
        o.result = shim_iconv(cd, &inp, &in_left, &outp, &out_left);
        o.error = o.result == (size_t)-1 ? errno : 0;
        shim_iconv_close(cd);
    } else {
        iconv_t cd = iconv_open(t->to, t->from);
        if (cd == (iconv_t)-1) { o.result = (size_t)-2; return o; }
        o.result = iconv(cd, &inp, &in_left, &outp, &out_left);
        o.error = o.result == (size_t)-1 ? errno : 0;
        iconv_close(cd);
    }
    o.consumed = t->in_len - in_left;
    o.written = (size_t)(outp - o.out);
    return o;
}

int main(void) {
    int failed = 0, passed = 0;
    const size_t n = sizeof cases / sizeof cases[0];
    for (size_t i = 0; i < n; ++i) {
        const struct outcome want = run(0, &cases[i]), got = run(1, &cases[i]);
        if (want.result == got.result && want.error == got.error && want.consumed == got.consumed &&
            want.written == got.written && memcmp(want.out, got.out, want.written) == 0) {
            ++passed;
            continue;
        }
        ++failed;
        printf("case %zu (%s from %s): glibc %zd errno %d used %zu wrote %zu; stand-in %zd errno %d used %zu wrote %zu\n",
               i, cases[i].to, cases[i].from, (ssize_t)want.result, want.error, want.consumed, want.written,
               (ssize_t)got.result, got.error, got.consumed, got.written);
    }
    /* Names it does not know fail at once. */
    errno = 0;
    if (shim_iconv_open("UTF-16BE", "UTF-8") != (shim_iconv_t)-1 || errno != EINVAL) {
        ++failed;
        printf("an unknown encoding was accepted\n");
    } else {
        ++passed;
    }
    printf("iconv stand-in: %d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
