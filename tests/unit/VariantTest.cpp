#include "Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

// What a conversion gives: its value as text, or "!" and the failure's message.
template <typename F>
std::string Try(F f) {
  try {
    return f();
  } catch (const EVariantError& e) {
    return "!" + e.Message;
  }
}
std::string Int(const Variant& v) { return Try([&] { return std::to_string(VarToInteger(v)); }); }
std::string Str(const Variant& v) { return Try([&] { return AnsiToUtf8(VarToAnsi(v)); }); }
std::string Wide(const Variant& v) { return Try([&] { return WideToUtf8(VarToWide(v)); }); }

Variant Obj(Variant def) { return Variant::Object(std::make_shared<const Variant>(std::move(def))); }

}  // namespace

TEST(Variant, ConversionTable) {
  const double inf = std::numeric_limits<double>::infinity();
  struct {
    const char* what;
    Variant v;
    std::string toInt, toStr, toWide;
  } cases[] = {
      {"empty", Variant(), "0", "", ""},
      {"null", Variant::Null(), "!Could not convert variant of type (Null) into type (Integer)",
       "!Could not convert variant of type (Null) into type (String)",
       "!Could not convert variant of type (Null) into type (OleStr)"},
      {"integer", Variant::Int(-42), "-42", "-42", "-42"},
      {"small integer", Variant::Int(7, varSmallint), "7", "7", "7"},
      {"10.5 rounds to even", Variant::Dbl(10.5), "10", "10.5", "10.5"},
      {"11.5 rounds to even", Variant::Dbl(11.5), "12", "11.5", "11.5"},
      {"-2.5", Variant::Dbl(-2.5), "-2", "-2.5", "-2.5"},
      {"big double", Variant::Dbl(1e20),
       "!Overflow while converting variant of type (Double) into type (Integer)", "1E20", "1E20"},
      {"tiny double", Variant::Dbl(0.00001), "0", "1E-5", "1E-5"},
      {"NaN", Variant::Dbl(std::nan("")),
       "!Overflow while converting variant of type (Double) into type (Integer)", "NAN", "NAN"},
      {"-Infinity", Variant::Dbl(-inf),
       "!Overflow while converting variant of type (Double) into type (Integer)", "-INF", "-INF"},
      {"single", Variant::Sgl(3e9f),
       "!Overflow while converting variant of type (Single) into type (Integer)", "3E9", "3E9"},
      {"2^31 - 0.5 rounds up out of range", Variant::Dbl(2147483647.5),
       "!Overflow while converting variant of type (Double) into type (Integer)", "2147483647.5", "2147483647.5"},
      {"true", Variant::Bool(true), "-1", "True", "True"},
      {"false", Variant::Bool(false), "0", "False", "False"},
      {"\"12\"", Variant::Str(u"12"), "12", "12", "12"},
      {"\" 12.5 \"", Variant::Str(u" 12.5 "), "12", " 12.5 ", " 12.5 "},
      {"\"1e3\"", Variant::Str(u"1e3"), "1000", "1e3", "1e3"},
      {"\"abc\"", Variant::Str(u"abc"), "!Could not convert variant of type (OleStr) into type (Boolean)", "abc", "abc"},
      {"\"\"", Variant::Str(u""), "!Could not convert variant of type (OleStr) into type (Boolean)", "", ""},
      {"\"TRUE\"", Variant::Str(u"TRUE"), "1", "TRUE", "TRUE"},
      {"\"false\"", Variant::Str(u"false"), "0", "false", "false"},
      {"\"1e10\"", Variant::Str(u"1e10"), "!Overflow while converting variant of type (OleStr) into type (Integer)",
       "1e10", "1e10"},
      {"Chinese text", Variant::Str(u"发票"), "!Could not convert variant of type (OleStr) into type (Boolean)", "发票",
       "发票"},
      {"text outside code page 936", Variant::Str(u"a\U0001F600b"),
       "!Could not convert variant of type (OleStr) into type (Boolean)", "a?b", "a\U0001F600b"},
      {"object with a number", Obj(Variant::Str(u"7")), "7", "7", "7"},
      {"object with a word", Obj(Variant::Str(u"[object Object]")),
       "!Could not convert variant of type (Dispatch) into type (Integer)", "[object Object]", "[object Object]"},
      {"object without a default value", Variant::Object(nullptr),
       "!Could not convert variant of type (Dispatch) into type (Integer)",
       "!Could not convert variant of type (Dispatch) into type (String)",
       "!Could not convert variant of type (Dispatch) into type (OleStr)"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(Int(c.v), c.toInt) << c.what;
    EXPECT_EQ(Str(c.v), c.toStr) << c.what;
    EXPECT_EQ(Wide(c.v), c.toWide) << c.what;
  }
}

TEST(Variant, HugeAndBrokenStringsConvertWithoutFailing) {
  WideString mega(1 << 20, u'x');
  EXPECT_EQ(VarToAnsi(Variant::Str(mega)).size(), size_t(1) << 20);
  WideString lone = u"a";
  lone += char16_t(0xDC00);
  EXPECT_EQ(VarToAnsi(Variant::Str(lone)), "a?");
  EXPECT_EQ(VarToWide(Variant::Str(lone)), lone);  // wide text is passed on unchanged
}
