#include "ComObj.h"

#include <optional>

static thread_local std::optional<TExcepInfo> errorInfo;

void SetErrorInfo(const TExcepInfo& info) { errorInfo = info; }

bool GetErrorInfo(TExcepInfo& info) {
  if (!errorInfo) return false;
  info = *errorInfo;
  errorInfo.reset();
  return true;
}

HRESULT GetIDsOfNames(const IAutoDispatch& object, const WideString& name, DISPID& id) {
  AnsiString wanted = AnsiLowerCase(WideToAnsi(name));
  for (auto& m : object.DispTypeInfo().Members) {
    if (AnsiLowerCase(m.Name) == wanted) {
      id = m.DispId;
      return S_OK;
    }
  }
  id = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT Invoke(IAutoDispatch& object, DISPID id, uint16_t flags, const std::vector<Variant>& args, Variant* result,
               TExcepInfo* excepInfo) {
  const auto& members = object.DispTypeInfo().Members;
  size_t index = members.size();
  for (size_t i = 0; i < members.size(); ++i)
    if (members[i].DispId == id) index = i;
  if (index == members.size()) return DISP_E_MEMBERNOTFOUND;
  const TMemberDesc& m = members[index];
  // Nothing here can be assigned; a method is not a property and the other way round.
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return DISP_E_MEMBERNOTFOUND;
  bool asMethod = flags & DISPATCH_METHOD, asGet = flags & DISPATCH_PROPERTYGET;
  if (m.Kind == TMemberKind::PropertyGet ? !asGet : !asMethod) return DISP_E_MEMBERNOTFOUND;
  if (args.size() != m.Params.size()) return DISP_E_BADPARAMCOUNT;

  Variant scratch;
  Variant* out = result ? result : &scratch;
  HRESULT hr = object.CallMember(index, args, out);
  if (!Failed(hr)) return hr;
  TExcepInfo info;
  if (GetErrorInfo(info)) {
    info.SCode = hr;
    if (excepInfo) *excepInfo = info;
    return DISP_E_EXCEPTION;
  }
  return hr;
}

HRESULT TAutoObject::Guard(const std::function<void()>& body) const {
  auto fail = [this](const AnsiString& message, HRESULT code) {
    SetErrorInfo({AnsiToWide(FProgID), AnsiToWide(message), code});
    return code;
  };
  try {
    body();
    return S_OK;
  } catch (const EOleSysError& e) {
    return fail(e.Message, e.ErrorCode < 0 ? e.ErrorCode : E_UNEXPECTED);
  } catch (const Exception& e) {
    return fail(e.Message, E_UNEXPECTED);
  } catch (const std::exception& e) {
    return fail(e.what(), E_UNEXPECTED);
  }
}
