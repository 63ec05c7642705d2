// Variant: the subset of the automation VARIANT that pages hand to the program, and
// the three conversions the script interface uses, with the platform's failure texts.
#pragma once

#include "SysUtils.h"
#include "Text.h"

#include <cstdint>
#include <memory>

// Values of the VARIANT type tags.
enum TVarType : uint16_t {
  varEmpty = 0, varNull = 1, varSmallint = 2, varInteger = 3, varSingle = 4, varDouble = 5,
  varOleStr = 8, varDispatch = 9, varBoolean = 11, varShortInt = 16, varByte = 17,
  varString = 0x100  // ANSI text: a conversion target only
};

class EVariantError : public Exception {
  using Exception::Exception;
};
class EVariantTypeCastError : public EVariantError {  // "Could not convert variant of type (%s) into type (%s)"
  using EVariantError::EVariantError;
};
class EVariantOverflowError : public EVariantError {  // "Overflow while converting variant of type (%s) into type (%s)"
  using EVariantError::EVariantError;
};

class Variant {
 public:
  Variant() = default;
  static Variant Null();
  static Variant Int(int32_t v, TVarType type = varInteger);  // varInteger, varSmallint, varShortInt, varByte
  static Variant Dbl(double v);
  static Variant Sgl(float v);
  static Variant Bool(bool v);
  static Variant Str(WideString v);
  static Variant StrA(const AnsiString& v) { return Str(AnsiToWide(v)); }
  // An object; its default value (null: it has none to give) is what conversions use.
  static Variant Object(std::shared_ptr<const Variant> defaultValue);

  TVarType Type() const { return FType; }
  bool IsEmpty() const { return FType == varEmpty; }
  int32_t AsIntRaw() const { return FInt; }
  double AsDoubleRaw() const { return FDbl; }
  bool AsBoolRaw() const { return FBool; }
  const WideString& AsStrRaw() const { return FStr; }
  const std::shared_ptr<const Variant>& DefaultValue() const { return FDefault; }

  void Clear() { *this = Variant(); }

 private:
  TVarType FType = varEmpty;
  int32_t FInt = 0;
  double FDbl = 0;
  bool FBool = false;
  WideString FStr;
  std::shared_ptr<const Variant> FDefault;
};

// The script interface's conversions; failures raise EVariantError.
int32_t VarToInteger(const Variant& v);
AnsiString VarToAnsi(const Variant& v);
WideString VarToWide(const Variant& v);

// Name of a type tag as the failure texts give it ("Null", "OleStr", ...).
const char* VarTypeName(TVarType type);
// A float as the platform's number format writes it: 15 significant digits ("10.5", "1E20").
AnsiString FloatToStr(double value, int precision = 15);
