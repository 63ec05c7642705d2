#include "EmbeddedWB.h"

TEmbeddedWB::TEmbeddedWB(TWinControl* parent) {
  SetAlign(alClient);
  Init(Widgetset().CreateBrowser(*this, *this), parent);
}

void TEmbeddedWB::Navigate(const WideString& url) { Peer()->Navigate(url); }

void TEmbeddedWB::SetUserAgent(const AnsiString& userAgent) {
  FUserAgent = userAgent;
  Peer()->SetUserAgent(userAgent);
}

void TEmbeddedWB::SetUserInterfaceOptions(const TUserInterfaceOptions& options) {
  FOptions = options;
  unsigned flags = 0;
  if (options.count(EnablesFormsAutoComplete)) flags |= hostflag::EnableFormsAutoComplete;
  if (options.count(EnableThemes)) flags |= hostflag::Theme;
  if (options.count(DontUseScrollBars)) flags |= hostflag::ScrollNo;
  Peer()->SetHostFlags(flags);
}

void TEmbeddedWB::SetDisableCtrlShortcuts(const AnsiString& letters) { Peer()->SetDisabledCtrlShortcuts(letters); }

std::shared_ptr<IHTMLDocument2> TEmbeddedWB::Document() { return Peer()->Document(); }

// Every event reaches its handler through the application's safety net.
void TEmbeddedWB::DocumentComplete(bool topLevel, const WideString& url) {
  if (OnDocumentComplete)
    Application->Dispatch([&] { OnDocumentComplete(this, topLevel ? &FTopLevel : &FFrame, url); });
}

void TEmbeddedWB::NavigateError(int32_t statusCode, const WideString& url, bool topLevel) {
  if (OnNavigateError)
    Application->Dispatch([&] { OnNavigateError(this, topLevel ? &FTopLevel : &FFrame, url, statusCode); });
}

void TEmbeddedWB::ProgressChange(int32_t progress, int32_t progressMax) {
  if (OnProgressChange) Application->Dispatch([&] { OnProgressChange(this, progress, progressMax); });
}

void TEmbeddedWB::StatusTextChange(const WideString& text) {
  if (OnStatusTextChange) Application->Dispatch([&] { OnStatusTextChange(this, text); });
}

void TEmbeddedWB::TitleChange(const WideString& title) {
  if (OnTitleChange) Application->Dispatch([&] { OnTitleChange(this, title); });
}

bool TEmbeddedWB::ScriptError(const WideString& message) {
  bool cancel = false;
  if (OnScriptError) Application->Dispatch([&] { OnScriptError(this, message, cancel); });
  return cancel;
}

std::shared_ptr<IAutoDispatch> TEmbeddedWB::GetExternal(const AnsiString& origin) {
  std::shared_ptr<IAutoDispatch> ppDispatch;
  if (MayHaveExternal(origin) && OnGetExternal) OnGetExternal(this, ppDispatch);
  return ppDispatch;
}

bool TEmbeddedWB::MayHaveExternal(const AnsiString& origin) const {
  for (auto& allowed : ExternalOrigins) {
    if (allowed.rfind("file://", 0) == 0) {
      if (origin.rfind(allowed, 0) == 0 && origin.find("/../") == AnsiString::npos) return true;
    } else if (!allowed.empty() && OriginOf(origin) == allowed) {
      return true;
    }
  }
  return false;
}

AnsiString OriginOf(const AnsiString& url) {
  auto schemeEnd = url.find("://");
  if (schemeEnd == AnsiString::npos) return {};
  AnsiString scheme = AnsiLowerCase(url.substr(0, schemeEnd));
  auto hostStart = schemeEnd + 3;
  auto hostEnd = url.find_first_of("/?#", hostStart);
  AnsiString host = AnsiLowerCase(url.substr(hostStart, hostEnd == AnsiString::npos ? AnsiString::npos : hostEnd - hostStart));
  if (auto at = host.rfind('@'); at != AnsiString::npos) host.erase(0, at + 1);
  if ((scheme == "http" && host.size() > 3 && host.ends_with(":80")) ||
      (scheme == "https" && host.size() > 4 && host.ends_with(":443")))
    host.erase(host.rfind(':'));
  return scheme + "://" + host;
}
