#include "Text.h"

#include <gtest/gtest.h>

TEST(Text, ChineseLiteralsArriveAsGbkBytes) {
  EXPECT_EQ(Ansi(u8"中文"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(Ansi(u8"配置运行参数"), "\xC5\xE4\xD6\xC3\xD4\xCB\xD0\xD0\xB2\xCE\xCA\xFD");
  EXPECT_EQ(Ansi(u8"Lumetra"), "Lumetra");
}

TEST(Text, RoundTripsThroughUtf8AndUtf16) {
  const std::string utf8 = "Lumetra 发票开具 €";
  AnsiString ansi = Utf8ToAnsi(utf8);
  EXPECT_EQ(AnsiToUtf8(ansi), utf8);
  WideString wide = AnsiToWide(ansi);
  EXPECT_EQ(wide, u"Lumetra 发票开具 €");
  EXPECT_EQ(WideToAnsi(wide), ansi);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(Utf8ToWide(utf8), wide);
}

TEST(Text, WhatCannotBeConvertedIsReplacedNotLost) {
  struct Case {
    const char* what;
    std::string got, want;
  } cases[] = {
      {"character outside code page 936", Utf8ToAnsi("a\xF0\x9F\x98\x80" "b한c"), "a?b?c"},
      {"lone surrogate", WideToAnsi(std::u16string(u"x") + char16_t(0xD800) + u"y"), "x?y"},
      {"surrogate pair outside the code page", WideToAnsi(u"x\U0001F600y"), "x?y"},
      {"broken GBK lead byte at the end", AnsiToUtf8("ab\xD6"), "ab\xEF\xBF\xBD"},
      {"invalid UTF-8", Utf8ToAnsi("a\xFF\xC3"), "a??"},
      {"empty", AnsiToUtf8(""), ""},
  };
  for (auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(Text, CaseMappingLeavesDoubleByteCharactersAlone) {
  // 0xB0 0x61 is a two-byte character whose trail byte is "a".
  EXPECT_EQ(AnsiUpperCase("ab\xB0" "ac"), "AB\xB0" "aC");
  EXPECT_EQ(AnsiLowerCase("AB\xB0" "AC"), "ab\xB0" "Ac");
  EXPECT_TRUE(AnsiSameText("General", "gENERAL"));
  EXPECT_FALSE(AnsiSameText("\xB0" "a", "\xB0" "A"));
}
