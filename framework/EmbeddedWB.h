// TEmbeddedWB: the browser control with the host options the program sets.
#pragma once

#include "Forms.h"
#include "HtmlDocument.h"

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

// The origin of a URL as browsers compare it: scheme, host and port, lower case,
// without the scheme's default port.
AnsiString OriginOf(const AnsiString& url);

// Host flags, with the values of the browser's DOCHOSTUIFLAG.
namespace hostflag {
constexpr unsigned ScrollNo = 0x8, EnableFormsAutoComplete = 0x4000, Theme = 0x40000;
}

enum TUserInterfaceOption { EnablesFormsAutoComplete, EnableThemes, DontUseScrollBars };
using TUserInterfaceOptions = std::set<TUserInterfaceOption>;

// Identity of a browser object in events: the control's own top-level one, or a frame's.
class IWebBrowser2 {
 public:
  virtual ~IWebBrowser2() = default;
};

class TEmbeddedWB : public TWinControl, private IBrowserEvents {
 public:
  explicit TEmbeddedWB(TWinControl* parent);

  // A plain navigation: a URL or a file path, nothing else.
  void Navigate(const WideString& url);
  void Navigate(const AnsiString& url) { Navigate(AnsiToWide(url)); }

  const AnsiString& UserAgent() const { return FUserAgent; }
  void SetUserAgent(const AnsiString& userAgent);
  const TUserInterfaceOptions& UserInterfaceOptions() const { return FOptions; }
  // The browser reads its host flags again at once, without a new navigation.
  void SetUserInterfaceOptions(const TUserInterfaceOptions& options);
  // Ctrl+<letter> (without Shift) for these letters never reaches the browser.
  void SetDisableCtrlShortcuts(const AnsiString& letters);

  std::shared_ptr<IHTMLDocument2> Document();
  IWebBrowser2* DefaultInterface() { return &FTopLevel; }

  // Documents that may reach the external object: origins ("http://host:port") and
  // local folders ("file:///folder/"). Pages from anywhere else see none.
  std::vector<AnsiString> ExternalOrigins;
  bool MayHaveExternal(const AnsiString& origin) const;

  std::function<void(TObject* Sender, IWebBrowser2* pDisp, const WideString& URL)> OnDocumentComplete;
  std::function<void(TObject* Sender, IWebBrowser2* pDisp, const WideString& URL, int32_t StatusCode)> OnNavigateError;
  std::function<void(TObject* Sender, int32_t Progress, int32_t ProgressMax)> OnProgressChange;
  std::function<void(TObject* Sender, const WideString& Text)> OnStatusTextChange;
  std::function<void(TObject* Sender, const WideString& Text)> OnTitleChange;
  std::function<void(TObject* Sender, const WideString& ErrorMessage, bool& CancelScripts)> OnScriptError;
  std::function<void(TObject* Sender, std::shared_ptr<IAutoDispatch>& ppDispatch)> OnGetExternal;

  IBrowserBackend* Peer() const { return static_cast<IBrowserBackend*>(FBackend.get()); }

 private:
  void DocumentComplete(bool topLevel, const WideString& url) override;
  void NavigateError(int32_t statusCode, const WideString& url, bool topLevel) override;
  void ProgressChange(int32_t progress, int32_t progressMax) override;
  void StatusTextChange(const WideString& text) override;
  void TitleChange(const WideString& title) override;
  bool ScriptError(const WideString& message) override;
  std::shared_ptr<IAutoDispatch> GetExternal(const AnsiString& origin) override;

  IWebBrowser2 FTopLevel, FFrame;
  AnsiString FUserAgent;
  TUserInterfaceOptions FOptions;
};
