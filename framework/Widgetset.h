// What the framework needs of a platform. The program never sees this: the
// widgetset chosen by main() (GTK on the desktop, headless in tests) implements it.
#pragma once

#include "ComObj.h"
#include "HtmlDocument.h"
#include "Text.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TForm;
class TPanel;
class TStatusBar;
class TProgressBar;
class TEmbeddedWB;

enum TAlign { alNone, alTop, alBottom, alClient };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };

struct TRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool operator==(const TRect&) const = default;
};

struct MessageBoxRequest {
  const TForm* Owner = nullptr;  // null: no owner window
  AnsiString Text, Caption;
  unsigned Flags = 0;  // mb:: buttons | icon
};

class IControlBackend {
 public:
  virtual ~IControlBackend() = default;
  virtual void SetParent(IControlBackend* parent, TAlign align) = 0;
  virtual void SetBounds(TRect bounds) = 0;  // relative to the parent
  virtual void SetVisible(bool visible) = 0;
};

// What a window tells its form.
class IFormEvents {
 public:
  virtual ~IFormEvents() = default;
  virtual bool CloseRequested() = 0;   // the user's close; true when the window closed
  virtual bool QueryEndSession() = 0;  // the desktop session wants to end: may it?
  virtual void Moved(TRect outer) = 0;
  virtual void StateChanged(TWindowState state) = 0;
};

class IFormBackend : public IControlBackend {
 public:
  virtual void SetCaption(const AnsiString& caption) = 0;
  // Both re-create the window on platforms where the style is fixed at creation.
  virtual void SetBorderStyle(TFormBorderStyle style) = 0;
  virtual void SetWindowState(TWindowState state) = 0;
  virtual void SetFocus() = 0;
};

class IStatusBarBackend : public IControlBackend {
 public:
  virtual void SetPanels(const std::vector<int>& widths) = 0;
  virtual void SetPanelText(int index, const AnsiString& text) = 0;
};

class IProgressBarBackend : public IControlBackend {
 public:
  virtual void SetRange(int min, int max) = 0;
  virtual void SetPosition(int position) = 0;  // already within the range
};

// What the browser control reports.
class IBrowserEvents {
 public:
  virtual ~IBrowserEvents() = default;
  virtual void DocumentComplete(bool topLevel, const WideString& url) = 0;
  virtual void NavigateError(int32_t statusCode, const WideString& url, bool topLevel) = 0;
  virtual void ProgressChange(int32_t progress, int32_t progressMax) = 0;
  virtual void StatusTextChange(const WideString& text) = 0;
  virtual void TitleChange(const WideString& title) = 0;
  // True when the page's scripts are to be stopped.
  virtual bool ScriptError(const WideString& message) = 0;
  // The object a document's script reaches as window.external; null when the document
  // (by its origin: "scheme://host:port", or "file://" + path) gets none.
  virtual std::shared_ptr<IAutoDispatch> GetExternal(const AnsiString& origin) = 0;
};

class IBrowserBackend : public IControlBackend {
 public:
  virtual void Navigate(const WideString& target) = 0;  // a URL or a file path
  virtual void SetUserAgent(const AnsiString& userAgent) = 0;
  virtual void SetHostFlags(unsigned flags) = 0;  // DOCHOSTUIFLAG values, applied at once
  virtual void SetDisabledCtrlShortcuts(const AnsiString& letters) = 0;
  // The current top-level document; null when there is none.
  virtual std::shared_ptr<IHTMLDocument2> Document() = 0;
};

class IWidgetset {
 public:
  virtual ~IWidgetset() = default;
  // Modal; the platform's message loop keeps running. Returns an mr:: answer.
  virtual int MessageBox(const MessageBoxRequest& request) = 0;

  virtual std::unique_ptr<IFormBackend> CreateForm(TForm& form, IFormEvents& events) = 0;
  virtual std::unique_ptr<IControlBackend> CreatePanel(TPanel& panel) = 0;
  virtual std::unique_ptr<IStatusBarBackend> CreateStatusBar(TStatusBar& bar) = 0;
  virtual std::unique_ptr<IProgressBarBackend> CreateProgressBar(TProgressBar& bar) = 0;
  virtual std::unique_ptr<IBrowserBackend> CreateBrowser(TEmbeddedWB& browser, IBrowserEvents& events) = 0;

  // Runs the message loop until QuitMessageLoop; nested calls are allowed.
  virtual void RunMessageLoop() = 0;
  virtual void QuitMessageLoop() = 0;
  // Handles events until done() holds.
  virtual void ProcessMessagesUntil(const std::function<bool()>& done) = 0;

  virtual TRect VirtualScreen() = 0;  // all monitors together
  virtual TRect PrimaryScreen() = 0;

  // A skin file for all windows; false when it could not be used.
  virtual bool ApplySkin(const AnsiString& fileName) = 0;

  // Where the system puts a new window: its default place, and with defaultSize its
  // default size too.
  virtual TRect DefaultPlacement(TRect current, bool defaultSize) = 0;

  // The browser's history and cache (cacheentry:: kinds); failures are not reported.
  virtual void ClearUrlHistory() = 0;
  virtual void ClearCache(unsigned entryKinds) = 0;
};

IWidgetset& Widgetset();
void UseWidgetset(IWidgetset* widgetset);
