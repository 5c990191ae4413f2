/* The part of iconv that libUEMF calls, for MinGW-w64, which has none: conversions among
 * UTF-8, UTF-16LE, UTF-32LE and LATIN1 (ISO-8859-1). A "//TRANSLIT" target writes '?' for
 * a character it cannot hold (glibc spells some out, "EUR" for the euro sign) and counts it
 * as irreversible; "//IGNORE" drops it. Any other encoding fails in iconv_open with EINVAL,
 * so a caller that wants one learns it at once. */
#ifndef PLOTMINT_WIN_ICONV_H
#define PLOTMINT_WIN_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct plotmint_iconv* iconv_t;

iconv_t iconv_open(const char* tocode, const char* fromcode);
size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft);
int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif

#endif
