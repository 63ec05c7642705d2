// Base64 (RFC 4648, section 4) for the values of Corvane.ini: standard alphabet,
// "=" padding, no line breaks. Bytes in, bytes out: no character set is converted.
#pragma once

#include "Text.h"

extern AnsiString B64Alphabet;
extern AnsiString B64Pad;

class TSB64 {
 public:
  TSB64();
  AnsiString Encode(const AnsiString& data) const;
  // Lenient about "=" wherever it stands; any other character outside the alphabet
  // gives the empty text. Bits left over at the end are dropped.
  AnsiString Decode(const AnsiString& text) const;

 private:
  signed char FIndex[256];  // alphabet position, -1 outside the alphabet, -2 the pad
};
