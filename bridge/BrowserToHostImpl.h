// TBrowserToHost: the object pages reach as window.external. It keeps nothing between
// calls: every member converts its arguments, acts on MainForm or on a TINIConfig
// made for the call, and returns; each body runs inside the failure guard.
#pragma once

#include "Corvane_TLB.h"

class TBrowserToHost : public IBrowserToHost, private TAutoObject {
 public:
  TBrowserToHost() : TAutoObject(ProgID_BrowserToHost) {}

  HRESULT ChangeWindowSize(const Variant& width, const Variant& height) override;
  HRESULT MessageBox(const Variant& message) override;
  HRESULT MoveWindow(const Variant& xpos, const Variant& ypos) override;
  HRESULT ApplicationExit() override;
  HRESULT Get_ScreenWidth(Variant& Value) override;
  HRESULT Get_ScreenHeight(Variant& Value) override;
  HRESULT WindowResize(const Variant& width, const Variant& height, const Variant& winState) override;
  HRESULT Navigate(const Variant& url) override;
  HRESULT LoadConfig(const Variant& FileName, const Variant& isEncoded, Variant& ConfigString) override;
  HRESULT SaveConfig(const Variant& FileName, const Variant& ConfigItems, const Variant& isEncode) override;
  HRESULT GetAppPath(Variant& AppPath) override;
  HRESULT SetCloseHandler(const Variant& functionName) override;
  HRESULT ClearUrlHistory() override;
  HRESULT ClearIECache() override;
};
