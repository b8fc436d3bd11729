// The Unicode questions the matcher asks, answered by whoever links it. The host's `re` answers them
// from the interpreter's own character database, so the binding layer (native/python/rx_unicode.cpp)
// defines them over the same tables and the matcher agrees with `re` on every code point; a program
// that links the engine without the interpreter supplies its own definitions.
#pragma once

namespace tessera::rx::unicode {

bool is_word(char32_t c);     // `\w`: alphanumeric (alpha, decimal, digit or numeric) or '_'
bool is_space(char32_t c);    // `\s`
bool is_decimal(char32_t c);  // `\d`
char32_t lower(char32_t c);   // simple lowercase mapping, as IGNORECASE compares
char32_t upper(char32_t c);   // simple uppercase mapping, to tell cased characters apart

}  // namespace tessera::rx::unicode
