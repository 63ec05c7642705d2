// Type library "Corvane": the interface IBrowserToHost that pages reach as
// window.external, and its co-class. One table serves the dispatcher here and the
// Windows type library.
#pragma once

#include "ComObj.h"

extern const char* const LIBID_Corvane;
extern const char* const IID_IBrowserToHost;
extern const char* const CLASS_BrowserToHost;
extern const char* const ProgID_BrowserToHost;

extern const TInterfaceDesc IBrowserToHostDesc;
extern const TCoClassDesc BrowserToHostDesc;
extern const TTypeLibDesc CorvaneTypeLib;

// The interface's members in vtable order. Every argument is a VARIANT passed by
// value; results come back in Result.
class IBrowserToHost : public IAutoDispatch {
 public:
  virtual HRESULT ChangeWindowSize(const Variant& width, const Variant& height) = 0;
  virtual HRESULT MessageBox(const Variant& message) = 0;
  virtual HRESULT MoveWindow(const Variant& xpos, const Variant& ypos) = 0;
  virtual HRESULT ApplicationExit() = 0;
  virtual HRESULT Get_ScreenWidth(Variant& Value) = 0;
  virtual HRESULT Get_ScreenHeight(Variant& Value) = 0;
  virtual HRESULT WindowResize(const Variant& width, const Variant& height, const Variant& winState) = 0;
  virtual HRESULT Navigate(const Variant& url) = 0;
  virtual HRESULT LoadConfig(const Variant& FileName, const Variant& isEncoded, Variant& ConfigString) = 0;
  virtual HRESULT SaveConfig(const Variant& FileName, const Variant& ConfigItems, const Variant& isEncode) = 0;
  virtual HRESULT GetAppPath(Variant& AppPath) = 0;
  virtual HRESULT SetCloseHandler(const Variant& functionName) = 0;
  virtual HRESULT ClearUrlHistory() = 0;
  virtual HRESULT ClearIECache() = 0;

  const TInterfaceDesc& DispTypeInfo() const override { return IBrowserToHostDesc; }
  // The dispatcher's way in: the member at a vtable position.
  HRESULT CallMember(size_t index, const std::vector<Variant>& args, Variant* result) override;
};
