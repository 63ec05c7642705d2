#include "Variant.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

Variant Variant::Null() {
  Variant v;
  v.FType = varNull;
  return v;
}
Variant Variant::Int(int32_t i, TVarType type) {
  Variant v;
  v.FType = type;
  v.FInt = i;
  return v;
}
Variant Variant::Dbl(double d) {
  Variant v;
  v.FType = varDouble;
  v.FDbl = d;
  return v;
}
Variant Variant::Sgl(float f) {
  Variant v;
  v.FType = varSingle;
  v.FDbl = f;
  return v;
}
Variant Variant::Bool(bool b) {
  Variant v;
  v.FType = varBoolean;
  v.FBool = b;
  return v;
}
Variant Variant::Str(WideString s) {
  Variant v;
  v.FType = varOleStr;
  v.FStr = std::move(s);
  return v;
}
Variant Variant::Object(std::shared_ptr<const Variant> defaultValue) {
  Variant v;
  v.FType = varDispatch;
  v.FDefault = std::move(defaultValue);
  return v;
}

const char* VarTypeName(TVarType type) {
  switch (type) {
    case varEmpty: return "Empty";
    case varNull: return "Null";
    case varSmallint: return "Smallint";
    case varInteger: return "Integer";
    case varSingle: return "Single";
    case varDouble: return "Double";
    case varOleStr: return "OleStr";
    case varDispatch: return "Dispatch";
    case varBoolean: return "Boolean";
    case varShortInt: return "ShortInt";
    case varByte: return "Byte";
    case varString: return "String";
  }
  return "Unknown";
}

namespace {

[[noreturn]] void CastError(TVarType from, TVarType to) {
  throw EVariantTypeCastError(
      Format("Could not convert variant of type (%s) into type (%s)", VarTypeName(from), VarTypeName(to)));
}
[[noreturn]] void OverflowError(TVarType from, TVarType to) {
  throw EVariantOverflowError(
      Format("Overflow while converting variant of type (%s) into type (%s)", VarTypeName(from), VarTypeName(to)));
}

bool IsInteger(TVarType t) { return t == varInteger || t == varSmallint || t == varShortInt || t == varByte; }

// Halves go to the even neighbour; NaN and values beyond 32 bits overflow.
bool RoundToInt32(double d, int32_t& out) {
  if (!std::isfinite(d)) return false;
  double r = std::nearbyint(d);  // the default rounding mode: to nearest, ties to even
  if (r < -2147483648.0 || r > 2147483647.0) return false;
  out = static_cast<int32_t>(r);
  return true;
}

std::string Narrow(const WideString& w) { return WideToUtf8(w); }

std::string TrimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// A number as the user's locale writes it: sign, digits, one decimal point, exponent.
bool ParseNumber(const std::string& text, double& out) {
  std::string s = TrimBlanks(text);
  if (s.empty()) return false;
  size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  size_t digits = 0;
  while (i < s.size() && isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    size_t expDigits = 0;
    while (j < s.size() && isdigit(static_cast<unsigned char>(s[j]))) ++j, ++expDigits;
    if (expDigits == 0) return false;
    i = j;
  }
  if (i != s.size()) return false;
  errno = 0;
  out = std::strtod(s.c_str(), nullptr);
  return true;
}

int32_t StrToInteger(const WideString& w) {
  std::string s = Narrow(w);
  double d;
  if (ParseNumber(s, d)) {
    int32_t r;
    if (!RoundToInt32(d, r)) OverflowError(varOleStr, varInteger);
    return r;
  }
  std::string t = AnsiLowerCase(TrimBlanks(s));
  if (t == "true") return 1;
  if (t == "false") return 0;
  CastError(varOleStr, varBoolean);
}

AnsiString ToAnsi(const Variant& v, TVarType target);

}  // namespace

AnsiString FloatToStr(double value, int precision) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", precision, value);
  // "1E+20" -> "1E20", "1.5E-05" -> "1.5E-5"
  std::string s = buf;
  auto e = s.find('E');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e), exp = s.substr(e + 1);
    bool neg = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) exp.erase(0, 1);
    exp.erase(0, std::min(exp.find_first_not_of('0'), exp.size() - 1));
    s = mant + "E" + (neg ? "-" : "") + exp;
  }
  return s;
}

int32_t VarToInteger(const Variant& v) {
  switch (v.Type()) {
    case varEmpty: return 0;
    case varNull: CastError(varNull, varInteger);
    case varDouble:
    case varSingle: {
      int32_t r;
      if (!RoundToInt32(v.AsDoubleRaw(), r)) OverflowError(v.Type(), varInteger);
      return r;
    }
    case varBoolean: return v.AsBoolRaw() ? -1 : 0;
    case varOleStr: return StrToInteger(v.AsStrRaw());
    case varDispatch:
      if (v.DefaultValue() && v.DefaultValue()->Type() != varDispatch) {
        try {
          return VarToInteger(*v.DefaultValue());
        } catch (const EVariantOverflowError&) {
          OverflowError(varDispatch, varInteger);
        } catch (const EVariantError&) {
        }
      }
      CastError(varDispatch, varInteger);
    default:
      if (IsInteger(v.Type())) return v.AsIntRaw();
      CastError(v.Type(), varInteger);
  }
}

namespace {
AnsiString ToAnsi(const Variant& v, TVarType target) {
  switch (v.Type()) {
    case varEmpty: return {};
    case varNull: CastError(varNull, target);
    case varDouble: return FloatToStr(v.AsDoubleRaw(), 15);
    case varSingle: return FloatToStr(v.AsDoubleRaw(), 7);
    case varBoolean: return v.AsBoolRaw() ? "True" : "False";
    case varOleStr: return WideToAnsi(v.AsStrRaw());
    case varDispatch:
      if (v.DefaultValue() && v.DefaultValue()->Type() != varDispatch && v.DefaultValue()->Type() != varNull)
        return ToAnsi(*v.DefaultValue(), target);
      CastError(varDispatch, target);
    default:
      if (IsInteger(v.Type())) return Format("%d", v.AsIntRaw());
      CastError(v.Type(), target);
  }
}
}  // namespace

AnsiString VarToAnsi(const Variant& v) { return ToAnsi(v, varString); }

WideString VarToWide(const Variant& v) {
  if (v.Type() == varOleStr) return v.AsStrRaw();
  if (v.Type() == varDispatch && v.DefaultValue() && v.DefaultValue()->Type() == varOleStr)
    return v.DefaultValue()->AsStrRaw();
  if (v.Type() == varNull) CastError(varNull, varOleStr);
  if (v.Type() == varDispatch && !(v.DefaultValue() && v.DefaultValue()->Type() != varDispatch &&
                                    v.DefaultValue()->Type() != varNull))
    CastError(varDispatch, varOleStr);
  return AnsiToWide(VarToAnsi(v));
}
