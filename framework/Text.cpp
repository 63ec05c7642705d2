#include "Text.h"

#include "TextCodec.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

AnsiString Ansi(std::u8string_view utf8) {
  return Utf8ToAnsi(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

std::string AnsiToUtf8(std::string_view ansi) { return codec::Convert(codec::Ansi, codec::Utf8, ansi); }
AnsiString Utf8ToAnsi(std::string_view utf8) { return codec::Convert(codec::Utf8, codec::Ansi, utf8); }

static std::string_view Bytes(std::u16string_view w) {
  return {reinterpret_cast<const char*>(w.data()), w.size() * sizeof(char16_t)};
}
static WideString ToWide(const std::string& bytes) {
  WideString w(bytes.size() / sizeof(char16_t), u'\0');
  bytes.copy(reinterpret_cast<char*>(w.data()), w.size() * sizeof(char16_t));
  return w;
}

WideString AnsiToWide(std::string_view ansi) { return ToWide(codec::Convert(codec::Ansi, codec::Utf16, ansi)); }
AnsiString WideToAnsi(std::u16string_view wide) { return codec::Convert(codec::Utf16, codec::Ansi, Bytes(wide)); }
std::string WideToUtf8(std::u16string_view wide) { return codec::Convert(codec::Utf16, codec::Utf8, Bytes(wide)); }
WideString Utf8ToWide(std::string_view utf8) { return ToWide(codec::Convert(codec::Utf8, codec::Utf16, utf8)); }

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

template <typename Map>
static AnsiString MapAscii(std::string_view s, Map map) {
  AnsiString out(s);
  for (size_t i = 0; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(c)) {
      ++i;  // keep the trail byte as it is
    } else {
      out[i] = static_cast<char>(map(c));
    }
  }
  return out;
}

AnsiString AnsiUpperCase(std::string_view s) {
  return MapAscii(s, [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
}
AnsiString AnsiLowerCase(std::string_view s) {
  return MapAscii(s, [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
}
bool AnsiSameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AnsiLowerCase(a) == AnsiLowerCase(b);
}

AnsiString Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return AnsiString(s.substr(b, e - b));
}

AnsiString Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  AnsiString out;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, again);
    out.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}
