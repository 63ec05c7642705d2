#include "BrowserToHostImpl.h"

#include "Dialogs.h"
#include "INIConfig.h"
#include "MainForm.h"
#include "SysUtils.h"

HRESULT TBrowserToHost::ChangeWindowSize(const Variant& width, const Variant& height) {
  return Guard([&] {
    MainForm->SetWidth(VarToInteger(width));
    MainForm->SetHeight(VarToInteger(height));
  });
}

HRESULT TBrowserToHost::MessageBox(const Variant& message) {
  return Guard([&] { ShowMessage(VarToAnsi(message)); });
}

HRESULT TBrowserToHost::MoveWindow(const Variant& xpos, const Variant& ypos) {
  return Guard([&] {
    MainForm->SetLeft(VarToInteger(xpos));
    MainForm->SetTop(VarToInteger(ypos));
  });
}

HRESULT TBrowserToHost::ApplicationExit() {
  return Guard([&] { MainForm->ApplicationExit(); });
}

// The two properties answer with each other's dimension, as pages have always seen.
HRESULT TBrowserToHost::Get_ScreenWidth(Variant& Value) {
  Value.Clear();
  return Guard([&] { Value = Variant::Int(MainForm->GetScreenHeight()); });
}

HRESULT TBrowserToHost::Get_ScreenHeight(Variant& Value) {
  Value.Clear();
  return Guard([&] { Value = Variant::Int(MainForm->GetScreenWidth()); });
}

HRESULT TBrowserToHost::WindowResize(const Variant& width, const Variant& height, const Variant& winState) {
  return Guard([&] {
    AnsiString state = VarToAnsi(winState);
    int h = VarToInteger(height);
    int w = VarToInteger(width);
    MainForm->WindowResize(w, h, state);
  });
}

HRESULT TBrowserToHost::Navigate(const Variant& url) {
  return Guard([&] { MainForm->EWB->Navigate(VarToWide(url)); });
}

HRESULT TBrowserToHost::LoadConfig(const Variant& FileName, const Variant& isEncoded, Variant& ConfigString) {
  ConfigString.Clear();
  return Guard([&] {
    TINIConfig Config;
    int Decode = VarToInteger(isEncoded);
    AnsiString Name = VarToAnsi(FileName);
    ConfigString = Variant::StrA(Config.LoadConfigString(Name, Decode));
  });
}

HRESULT TBrowserToHost::SaveConfig(const Variant& FileName, const Variant& ConfigItems, const Variant& isEncode) {
  return Guard([&] {
    TINIConfig Config;
    int Encode = VarToInteger(isEncode);
    AnsiString Items = VarToAnsi(ConfigItems);
    AnsiString Name = VarToAnsi(FileName);
    Config.SaveConfigString(Name, Items, Encode);  // the page is not told whether it wrote
  });
}

HRESULT TBrowserToHost::GetAppPath(Variant& AppPath) {
  AppPath.Clear();
  return Guard([&] { AppPath = Variant::StrA(ExtractFilePath(Application->ExeName)); });
}

HRESULT TBrowserToHost::SetCloseHandler(const Variant& functionName) {
  return Guard([&] { MainForm->SetCloseHandler(VarToAnsi(functionName)); });
}

HRESULT TBrowserToHost::ClearUrlHistory() {
  return Guard([&] { MainForm->ClearUrlHistory(); });
}

HRESULT TBrowserToHost::ClearIECache() {
  return Guard([&] { MainForm->ClearIECache(); });
}
