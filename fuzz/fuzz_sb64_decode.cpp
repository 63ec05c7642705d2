// TSB64 on arbitrary bytes: decoding never overruns and yields exactly what the
// alphabet characters carry; every byte string survives Encode then Decode.
#include "SB64.h"

#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TSB64 codec;
  const AnsiString in(reinterpret_cast<const char*>(data), size);
  const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

  size_t digits = 0;
  bool foreign = false;
  for (unsigned char c : in) {
    if (c != 0 && std::strchr(abc, c)) ++digits;
    else if (c != '=') foreign = true;
  }
  AnsiString decoded = codec.Decode(in);
  Check(decoded.size() == (foreign ? 0 : digits * 6 / 8), "decoded length is what the digits carry");
  // Re-encoding what was decoded gives the digits back, except the dropped left-over bits.
  if (!foreign) {
    AnsiString digitsOnly;
    for (char c : in)
      if (c != '=') digitsOnly += c;
    AnsiString again = codec.Encode(decoded);
    size_t exact = digits / 4 * 4 + (digits % 4 ? digits % 4 - 1 : 0);
    Check(again.compare(0, exact, digitsOnly, 0, exact) == 0, "re-encoding gives the same digits");
  }

  AnsiString encoded = codec.Encode(in);
  Check(encoded.size() == (size + 2) / 3 * 4, "encoded length");
  Check(encoded.find_first_not_of(AnsiString(abc) + "=") == AnsiString::npos, "encoded alphabet");
  Check(codec.Decode(encoded) == in, "Decode(Encode(x)) == x");
  return 0;
}
