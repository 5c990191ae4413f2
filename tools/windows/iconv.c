/* See iconv.h. Stateless encodings only, so a call with a null inbuf has nothing to reset. */
#include "iconv.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

enum encoding { enc_utf8, enc_utf16le, enc_utf32le, enc_latin1 };
enum unmappable { fail_unmappable, translit_unmappable, ignore_unmappable };

struct plotmint_iconv {
    enum encoding from, to;
    enum unmappable on_unmappable;
};

static int same_name(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = (char)(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = (char)(y - 'a' + 'A');
        if (x != y) return 0;
    }
    return b[n] == '\0';
}

/* The encoding named up to "//" (or the end); 0 when it is none of ours. */
static int parse_name(const char* name, enum encoding* enc, const char** suffix) {
    static const struct { const char* name; enum encoding enc; } names[] = {
        {"UTF-8", enc_utf8},        {"UTF8", enc_utf8},          {"UTF-16LE", enc_utf16le},
        {"UTF-32LE", enc_utf32le},  {"LATIN1", enc_latin1},      {"ISO-8859-1", enc_latin1},
        {"ISO8859-1", enc_latin1},  {"ISO_8859-1", enc_latin1},
    };
    const char* slash = strstr(name, "//");
    const size_t n = slash ? (size_t)(slash - name) : strlen(name);
    *suffix = slash ? slash : name + n;
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        if (same_name(name, names[i].name, n)) {
            *enc = names[i].enc;
            return 1;
        }
    }
    return 0;
}

iconv_t iconv_open(const char* tocode, const char* fromcode) {
    enum encoding from, to;
    const char *to_suffix, *from_suffix;
    if (!tocode || !fromcode || !parse_name(tocode, &to, &to_suffix) || !parse_name(fromcode, &from, &from_suffix)) {
        errno = EINVAL;
        return (iconv_t)-1;
    }
    enum unmappable on_unmappable = fail_unmappable;
    if (strstr(to_suffix, "//TRANSLIT") || strstr(to_suffix, "//translit"))
        on_unmappable = translit_unmappable;
    else if (strstr(to_suffix, "//IGNORE") || strstr(to_suffix, "//ignore"))
        on_unmappable = ignore_unmappable;
    iconv_t cd = (iconv_t)malloc(sizeof *cd);
    if (!cd) {
        errno = ENOMEM;
        return (iconv_t)-1;
    }
    cd->from = from;
    cd->to = to;
    cd->on_unmappable = on_unmappable;
    return cd;
}

int iconv_close(iconv_t cd) {
    if (cd == (iconv_t)-1 || !cd) {
        errno = EBADF;
        return -1;
    }
    free(cd);
    return 0;
}

/* Reads one character: bytes used, 0 when the input stops inside it (EINVAL), -1 when it
 * is no character of the encoding (EILSEQ). */
static int decode(enum encoding enc, const unsigned char* p, size_t left, uint32_t* c) {
    switch (enc) {
    case enc_latin1:
        *c = p[0];
        return 1;
    case enc_utf32le:
        if (left < 4) return 0;
        *c = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
        return (*c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) ? -1 : 4;
    case enc_utf16le: {
        if (left < 2) return 0;
        const uint32_t u = (uint32_t)p[0] | (uint32_t)p[1] << 8;
        if (u >= 0xDC00 && u <= 0xDFFF) return -1;
        if (u < 0xD800 || u > 0xDBFF) {
            *c = u;
            return 2;
        }
        if (left < 4) return 0;
        const uint32_t low = (uint32_t)p[2] | (uint32_t)p[3] << 8;
        if (low < 0xDC00 || low > 0xDFFF) return -1;
        *c = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        return 4;
    }
    case enc_utf8: {
        const unsigned char b = p[0];
        int n;
        uint32_t min;
        if (b < 0x80) {
            *c = b;
            return 1;
        } else if (b >= 0xC2 && b <= 0xDF) {
            n = 2, min = 0x80, *c = b & 0x1Fu;
        } else if (b >= 0xE0 && b <= 0xEF) {
            n = 3, min = 0x800, *c = b & 0x0Fu;
        } else if (b >= 0xF0 && b <= 0xF4) {
            n = 4, min = 0x10000, *c = b & 0x07u;
        } else {
            return -1;
        }
        for (int i = 1; i < n; ++i) {
            if ((size_t)i >= left) return 0;
            if ((p[i] & 0xC0) != 0x80) return -1;
            *c = *c << 6 | (p[i] & 0x3Fu);
        }
        if (*c < min || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) return -1;
        return n;
    }
    }
    return -1;
}

/* Writes one character: bytes written, 0 when they do not fit (E2BIG), -1 when the
 * encoding cannot hold it. */
static int encode(enum encoding enc, uint32_t c, unsigned char* p, size_t room) {
    switch (enc) {
    case enc_latin1:
        if (c > 0xFF) return -1;
        if (room < 1) return 0;
        p[0] = (unsigned char)c;
        return 1;
    case enc_utf32le:
        if (room < 4) return 0;
        for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(c >> (8 * i));
        return 4;
    case enc_utf16le:
        if (c < 0x10000) {
            if (room < 2) return 0;
            p[0] = (unsigned char)c, p[1] = (unsigned char)(c >> 8);
            return 2;
        } else {
            if (room < 4) return 0;
            const uint32_t high = 0xD800 + ((c - 0x10000) >> 10), low = 0xDC00 + ((c - 0x10000) & 0x3FF);
            p[0] = (unsigned char)high, p[1] = (unsigned char)(high >> 8);
            p[2] = (unsigned char)low, p[3] = (unsigned char)(low >> 8);
            return 4;
        }
    case enc_utf8: {
        const int n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (room < (size_t)n) return 0;
        if (n == 1) {
            p[0] = (unsigned char)c;
        } else {
            static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
            for (int i = n - 1; i > 0; --i, c >>= 6) p[i] = (unsigned char)(0x80 | (c & 0x3F));
            p[0] = (unsigned char)(lead[n] | c);
        }
        return n;
    }
    }
    return -1;
}

size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft) {
    if (cd == (iconv_t)-1 || !cd) {
        errno = EBADF;
        return (size_t)-1;
    }
    if (!inbuf || !*inbuf) return 0;
    size_t irreversible = 0;
    while (*inbytesleft > 0) {
        uint32_t c = 0;
        const int used = decode(cd->from, (const unsigned char*)*inbuf, *inbytesleft, &c);
        if (used <= 0) {
            errno = used == 0 ? EINVAL : EILSEQ;
            return (size_t)-1;
        }
        unsigned char* out = outbuf && *outbuf ? (unsigned char*)*outbuf : NULL;
        const size_t room = out ? *outbytesleft : 0;
        int wrote = encode(cd->to, c, out, room);
        if (wrote < 0) {
            if (cd->on_unmappable == fail_unmappable) {
                errno = EILSEQ;
                return (size_t)-1;
            }
            wrote = cd->on_unmappable == ignore_unmappable ? 0 : encode(cd->to, '?', out, room);
            if (wrote == 0 && cd->on_unmappable == translit_unmappable) {
                errno = E2BIG;
                return (size_t)-1;
            }
            ++irreversible;
        } else if (wrote == 0) {
            errno = E2BIG;
            return (size_t)-1;
        }
        *inbuf += used;
        *inbytesleft -= (size_t)used;
        if (wrote > 0) {
            *outbuf += wrote;
            *outbytesleft -= (size_t)wrote;
        }
    }
    return irreversible;
}
