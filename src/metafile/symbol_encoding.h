#pragma once
// The characters the Symbol face's own one-byte encoding stands for, in Unicode. GDI records
// Symbol text as U+F000 + byte, which only a symbol-encoded font draws and which no reader
// can search or copy; anything that writes text for other programs (SVG, PDF) or draws it
// with an ordinary Unicode font goes through this table.
#include <cstdint>

namespace plotmint {

// Unicode for one byte of the Symbol encoding, or 0 where the Symbol face has no character
// (below 0x20, 0x7F..0x9F, 0xF0, 0xFF).
char16_t symbol_byte_to_unicode(unsigned char byte);

// Unicode for a character of a Symbol-face text record: U+F020..U+F0FE through the table,
// 0 for the codes in that range with no character; anything else is returned as it is.
char16_t symbol_text_to_unicode(char16_t recorded);

}  // namespace plotmint
