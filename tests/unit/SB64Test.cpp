#include "SB64.h"

#include <gtest/gtest.h>

TEST(SB64, EncodesAsRfc4648) {
  struct {
    std::string in, out;
  } cases[] = {
      {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},
      {"foo", "Zm9v"},    {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\xD6\xD0", "1tA="},                     // one GBK character: its two bytes
      {std::string("\0\xFF\xFE", 3), "AP/+"},   // bytes, not text
      {"8080", "ODA4MA=="},
  };
  TSB64 codec;
  for (auto& c : cases) {
    EXPECT_EQ(codec.Encode(c.in), c.out) << c.in;
    EXPECT_EQ(codec.Decode(c.out), c.in) << c.out;
  }
}

TEST(SB64, LongInputIsOneUnbrokenLine) {
  std::string in(1000, 'x');
  auto out = TSB64().Encode(in);
  EXPECT_EQ(out.size(), 1336u);
  EXPECT_EQ(out.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(TSB64().Decode(out), in);
}

TEST(SB64, DecoderIsLenientAboutPaddingAndStrictAboutEverythingElse) {
  struct {
    const char* what;
    std::string in, out;
  } cases[] = {
      {"full padding", "Zm9vYg==", "foob"},
      {"missing padding", "Zm9vYg", "foob"},
      {"partial padding", "Zm9vYg=", "foob"},
      {"pad in the middle", "Zm9v=Yg==", "foob"},
      {"pad at the start", "==Zm9vYg", "foob"},
      {"only pads", "====", ""},
      {"one character makes no byte", "Q", ""},
      {"left-over bits dropped unchecked", "Zh", "f"},
      {"line break after a valid encoding", "Zm9v\n", ""},
      {"blank inside", "Zm9v Yg==", ""},
      {"URL-safe alphabet is not ours", "-_8=", ""},
      {"a dot: the fallback texts", "1.2.0.0", ""},
      {"a colon", "http://127.0.0.1", ""},
      {"bad character after bytes were made", "Zm9vYmFy!", ""},
  };
  TSB64 codec;
  for (auto& c : cases) EXPECT_EQ(codec.Decode(c.in), c.out) << c.what;
  EXPECT_EQ(codec.Decode("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/").size(), 48u);
  EXPECT_EQ(codec.Decode("8080"), "\xF3\x4F\x34");
}

TEST(SB64, EveryConstructionRestoresTheStandardAlphabet) {
  TSB64 first;
  B64Alphabet = "garbage";
  B64Pad = "*";
  TSB64 second;
  EXPECT_EQ(B64Alphabet, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
  EXPECT_EQ(B64Pad, "=");
  EXPECT_EQ(second.Encode("f"), "Zg==");
}
