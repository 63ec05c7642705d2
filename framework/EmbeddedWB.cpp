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

void TEmbeddedWB::DocumentComplete(bool topLevel, const WideString& url) {
  if (OnDocumentComplete) OnDocumentComplete(this, topLevel ? &FTopLevel : &FFrame, url);
}

void TEmbeddedWB::NavigateError(int32_t statusCode, const WideString& url, bool topLevel) {
  if (OnNavigateError) OnNavigateError(this, topLevel ? &FTopLevel : &FFrame, url, statusCode);
}

void TEmbeddedWB::ProgressChange(int32_t progress, int32_t progressMax) {
  if (OnProgressChange) OnProgressChange(this, progress, progressMax);
}

void TEmbeddedWB::StatusTextChange(const WideString& text) {
  if (OnStatusTextChange) OnStatusTextChange(this, text);
}

void TEmbeddedWB::TitleChange(const WideString& title) {
  if (OnTitleChange) OnTitleChange(this, title);
}

bool TEmbeddedWB::ScriptError(const WideString& message) {
  bool cancel = false;
  if (OnScriptError) OnScriptError(this, message, cancel);
  return cancel;
}
