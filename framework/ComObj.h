// Automation objects: interfaces described by type information, dispatch by that
// information (names without regard to case, argument counts, read-only properties),
// per-thread error information, and the failure guard of automation members.
#pragma once

#include "Variant.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

using HRESULT = int32_t;
using DISPID = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000B);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
constexpr DISPID DISPID_UNKNOWN = -1;

constexpr uint16_t DISPATCH_METHOD = 1, DISPATCH_PROPERTYGET = 2, DISPATCH_PROPERTYPUT = 4,
                   DISPATCH_PROPERTYPUTREF = 8;

inline bool Failed(HRESULT hr) { return hr < 0; }

enum class TMemberKind { Method, PropertyGet };

struct TMemberDesc {
  const char* Name;
  DISPID DispId;
  TMemberKind Kind;
  std::vector<const char*> Params;  // each a VARIANT [in]
  const char* RetVal;               // name of the [out, retval] VARIANT, or null
  const char* HelpString;           // UTF-8, or null
};

struct TInterfaceDesc {
  const char* Name;
  const char* Guid;
  const char* HelpString;
  std::vector<TMemberDesc> Members;  // in vtable order, after IUnknown and IDispatch
};

struct TCoClassDesc {
  const char* Name;
  const char* Guid;
  const char* HelpString;
  const TInterfaceDesc* DefaultInterface;
};

struct TTypeLibDesc {
  const char* Name;
  const char* Guid;
  uint16_t MajorVersion, MinorVersion;
  uint32_t Lcid;
  const char* HelpString;
  const TInterfaceDesc* Interface;
  const TCoClassDesc* CoClass;
};

// What a failed call leaves for its caller.
struct TExcepInfo {
  WideString Source, Description;
  HRESULT SCode = 0;
};
void SetErrorInfo(const TExcepInfo& info);
bool GetErrorInfo(TExcepInfo& info);  // takes it: a second call finds nothing

class EOleError : public Exception {
  using Exception::Exception;
};

// A failure carrying a system status, returned as it is.
class EOleSysError : public Exception {
 public:
  EOleSysError(const AnsiString& message, HRESULT code) : Exception(message), ErrorCode(code) {}
  HRESULT ErrorCode;
};

// An object whose members are reached through its type information.
class IAutoDispatch {
 public:
  virtual ~IAutoDispatch() = default;
  virtual const TInterfaceDesc& DispTypeInfo() const = 0;
  // The member at this vtable position, with the arguments in their declared order.
  virtual HRESULT CallMember(size_t index, const std::vector<Variant>& args, Variant* result) = 0;
};

// The standard type-information lookup: names without regard to letter case.
HRESULT GetIDsOfNames(const IAutoDispatch& object, const WideString& name, DISPID& id);
// The standard type-information dispatch: checks kind and argument count before any
// member runs; a member's failure becomes DISP_E_EXCEPTION with its error information.
HRESULT Invoke(IAutoDispatch& object, DISPID id, uint16_t flags, const std::vector<Variant>& args, Variant* result,
               TExcepInfo* excepInfo);

// Base of automation objects: every member body runs inside Guard, which turns a
// failure into error information (source: the ProgID) and a failing status.
class TAutoObject {
 protected:
  explicit TAutoObject(const char* progId) : FProgID(progId) {}
  HRESULT Guard(const std::function<void()>& body) const;

 private:
  const char* FProgID;
};
