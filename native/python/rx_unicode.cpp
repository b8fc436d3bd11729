// The matcher's Unicode adapter over the interpreter's own character tables, so that `\w`, `\s`, `\d`
// and IGNORECASE answer exactly as the host's `re` does.
#include <Python.h>

#include "regex/unicode.hpp"

namespace tessera::rx::unicode {

bool is_word(char32_t c) { return Py_UNICODE_ISALNUM(static_cast<Py_UCS4>(c)) || c == U'_'; }
bool is_space(char32_t c) { return Py_UNICODE_ISSPACE(static_cast<Py_UCS4>(c)); }
bool is_decimal(char32_t c) { return Py_UNICODE_ISDECIMAL(static_cast<Py_UCS4>(c)); }
char32_t lower(char32_t c) { return Py_UNICODE_TOLOWER(static_cast<Py_UCS4>(c)); }
char32_t upper(char32_t c) { return Py_UNICODE_TOUPPER(static_cast<Py_UCS4>(c)); }

}  // namespace tessera::rx::unicode
