#include "SB64.h"

#include <cstring>

AnsiString B64Alphabet;
AnsiString B64Pad;

TSB64::TSB64() {
  B64Alphabet.assign("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
  B64Pad.assign("=");
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
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  unsigned bits = 0;
  int count = 0;
  for (size_t i = 0; i < n;) {
    // Four alphabet characters on a byte boundary are three bytes at once; anything
    // else (a pad, a foreign character, the tail) goes one character at a time.
    if (count == 0 && i + 4 <= n) {
      int a = FIndex[p[i]], b = FIndex[p[i + 1]], c = FIndex[p[i + 2]], d = FIndex[p[i + 3]];
      if ((a | b | c | d) >= 0) {
        unsigned v = unsigned(a) << 18 | unsigned(b) << 12 | unsigned(c) << 6 | unsigned(d);
        *o++ = static_cast<char>(v >> 16);
        *o++ = static_cast<char>((v >> 8) & 0xFF);
        *o++ = static_cast<char>(v & 0xFF);
        i += 4;
        continue;
      }
    }
    int v = FIndex[p[i++]];
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
