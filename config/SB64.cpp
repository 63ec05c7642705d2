#include "SB64.h"

#include <cstring>

AnsiString B64Alphabet;
AnsiString B64Pad;

TSB64::TSB64() {
  B64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  B64Pad = "=";
  std::memset(FIndex, -1, sizeof FIndex);
  for (size_t i = 0; i < B64Alphabet.size(); ++i) FIndex[static_cast<unsigned char>(B64Alphabet[i])] = static_cast<signed char>(i);
  FIndex[static_cast<unsigned char>(B64Pad[0])] = -2;
}

AnsiString TSB64::Encode(const AnsiString& data) const {
  const char* abc = B64Alphabet.data();
  const auto* in = reinterpret_cast<const unsigned char*>(data.data());
  size_t n = data.size(), full = n / 3 * 3;
  AnsiString out((n + 2) / 3 * 4, '\0');
  char* o = out.data();
  for (size_t i = 0; i < full; i += 3) {
    unsigned v = unsigned(in[i]) << 16 | unsigned(in[i + 1]) << 8 | in[i + 2];
    *o++ = abc[v >> 18];
    *o++ = abc[(v >> 12) & 63];
    *o++ = abc[(v >> 6) & 63];
    *o++ = abc[v & 63];
  }
  if (n - full == 1) {
    unsigned v = unsigned(in[full]) << 16;
    *o++ = abc[v >> 18];
    *o++ = abc[(v >> 12) & 63];
    *o++ = B64Pad[0];
    *o++ = B64Pad[0];
  } else if (n - full == 2) {
    unsigned v = unsigned(in[full]) << 16 | unsigned(in[full + 1]) << 8;
    *o++ = abc[v >> 18];
    *o++ = abc[(v >> 12) & 63];
    *o++ = abc[(v >> 6) & 63];
    *o++ = B64Pad[0];
  }
  return out;
}

AnsiString TSB64::Decode(const AnsiString& text) const {
  AnsiString out(text.size() / 4 * 3 + 3, '\0');
  char* o = out.data();
  unsigned bits = 0;
  int count = 0;
  for (unsigned char c : text) {
    int v = FIndex[c];
    if (v < 0) {
      if (v == -2) continue;
      return AnsiString();
    }
    bits = (bits << 6) | unsigned(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      *o++ = static_cast<char>((bits >> count) & 0xFF);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return out;
}
