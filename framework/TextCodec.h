// The platform's character-set conversion, behind the Text.h helpers.
#pragma once

#include <string>
#include <string_view>

namespace codec {
enum Charset { Ansi, Utf8, Utf16 };  // Utf16 is little-endian, as the program's wide strings
std::string Convert(Charset from, Charset to, std::string_view bytes);
}  // namespace codec
