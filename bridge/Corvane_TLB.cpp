#include "Corvane_TLB.h"

const char* const LIBID_Corvane = "{3C75BC48-4ED2-42B1-960D-D893C270D7DD}";
const char* const IID_IBrowserToHost = "{497DC596-4D4C-494F-9163-8D24847726CA}";
const char* const CLASS_BrowserToHost = "{22175820-9D61-48A1-A2D0-27C495162A20}";
const char* const ProgID_BrowserToHost = "Corvane.BrowserToHost";

using K = TMemberKind;

const TInterfaceDesc IBrowserToHostDesc = {
    "IBrowserToHost",
    IID_IBrowserToHost,
    "Dispatch interface for BrowserToHost Object",
    {
        {"ChangeWindowSize", 201, K::Method, {"width", "height"}, nullptr, nullptr},
        {"MessageBox", 202, K::Method, {"message"}, nullptr, nullptr},
        {"MoveWindow", 204, K::Method, {"xpos", "ypos"}, nullptr, nullptr},
        {"ApplicationExit", 205, K::Method, {}, nullptr, nullptr},
        {"ScreenWidth", 203, K::PropertyGet, {}, "Value", nullptr},
        {"ScreenHeight", 206, K::PropertyGet, {}, "Value", nullptr},
        {"WindowResize", 207, K::Method, {"width", "height", "winState"}, nullptr, nullptr},
        {"Navigate", 208, K::Method, {"url"}, nullptr, nullptr},
        {"LoadConfig", 209, K::Method, {"FileName", "isEncoded"}, "ConfigString", nullptr},
        {"SaveConfig", 210, K::Method, {"FileName", "ConfigItems", "isEncode"}, nullptr, nullptr},
        {"GetAppPath", 211, K::Method, {}, "AppPath", nullptr},
        {"SetCloseHandler", 212, K::Method, {"functionName"}, nullptr, "窗口关闭句柄"},
        {"ClearUrlHistory", 213, K::Method, {}, nullptr, nullptr},
        {"ClearIECache", 214, K::Method, {}, nullptr, nullptr},
    }};

const TCoClassDesc BrowserToHostDesc = {"BrowserToHost", CLASS_BrowserToHost, "BrowserToHost Object",
                                        &IBrowserToHostDesc};

const TTypeLibDesc CorvaneTypeLib = {"Corvane", LIBID_Corvane, 1, 0, 1033, "Corvane Library",
                                     &IBrowserToHostDesc, &BrowserToHostDesc};

HRESULT IBrowserToHost::CallMember(size_t index, const std::vector<Variant>& a, Variant* r) {
  Variant scratch;
  Variant& out = r ? *r : scratch;
  switch (index) {
    case 0: return ChangeWindowSize(a.at(0), a.at(1));
    case 1: return MessageBox(a.at(0));
    case 2: return MoveWindow(a.at(0), a.at(1));
    case 3: return ApplicationExit();
    case 4: return Get_ScreenWidth(out);
    case 5: return Get_ScreenHeight(out);
    case 6: return WindowResize(a.at(0), a.at(1), a.at(2));
    case 7: return Navigate(a.at(0));
    case 8: return LoadConfig(a.at(0), a.at(1), out);
    case 9: return SaveConfig(a.at(0), a.at(1), a.at(2));
    case 10: return GetAppPath(out);
    case 11: return SetCloseHandler(a.at(0));
    case 12: return ClearUrlHistory();
    case 13: return ClearIECache();
  }
  return DISP_E_MEMBERNOTFOUND;
}
