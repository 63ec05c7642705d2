// Text inside the program is ANSI: std::string holding code page 936 (GBK) bytes.
// Wide text (std::u16string, UTF-16) and UTF-8 exist only at the edges; every
// conversion goes through the functions here.
#pragma once

#include <string>
#include <string_view>

using AnsiString = std::string;
using WideString = std::u16string;

// A literal written in the (UTF-8) source, as the program's ANSI text.
// The one way Chinese literals reach the program: Ansi(u8"配置运行参数").
AnsiString Ansi(std::u8string_view utf8);

// Characters the code page cannot hold become "?", bytes that are not valid in
// the source encoding become U+FFFD (or "?" when the target is ANSI); never an error.
std::string AnsiToUtf8(std::string_view ansi);
AnsiString Utf8ToAnsi(std::string_view utf8);
WideString AnsiToWide(std::string_view ansi);
AnsiString WideToAnsi(std::u16string_view wide);
std::string WideToUtf8(std::u16string_view wide);
WideString Utf8ToWide(std::string_view utf8);

// ASCII-only case mapping that leaves both bytes of a double-byte character alone
// (a GBK trail byte can look like an ASCII letter).
AnsiString AnsiUpperCase(std::string_view s);
AnsiString AnsiLowerCase(std::string_view s);
bool AnsiSameText(std::string_view a, std::string_view b);
bool IsLeadByte(unsigned char c);

// Blanks and control characters at either end removed, as the framework's Trim does.
AnsiString Trim(std::string_view s);

// printf-style formatting of the framework's messages ("%s" with ANSI text).
AnsiString Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
