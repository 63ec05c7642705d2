// The widgetset of the unit tests: nothing is drawn. It records what the program
// showed and lets a test play the user and the browser.
#pragma once

#include "../HtmlSnapshot.h"
#include "../Widgetset.h"

#include <deque>
#include <map>
#include <memory>
#include <vector>

// What every peer records.
struct HeadlessControl {
  IControlBackend* Parent = nullptr;
  TAlign Align = alNone;
  TRect Bounds;
  bool Visible = false;
};

#define HEADLESS_BASICS                                                                         \
  void SetParent(IControlBackend* p, TAlign a) override { Parent = p, Align = a; }            \
  void SetBounds(TRect b) override { Bounds = b; }                                              \
  void SetVisible(bool v) override { Visible = v; }

struct HeadlessPanel : HeadlessControl, IControlBackend {
  HEADLESS_BASICS
};

struct HeadlessForm : HeadlessControl, IFormBackend {
  explicit HeadlessForm(IFormEvents& events) : Events(events) {}
  IFormEvents& Events;
  AnsiString Caption;
  TFormBorderStyle BorderStyle = bsSizeable;
  TWindowState WindowState = wsNormal;
  int Recreations = 0;
  bool Focused = false;
  HEADLESS_BASICS
  void SetCaption(const AnsiString& caption) override { Caption = caption; }
  void SetBorderStyle(TFormBorderStyle style) override { BorderStyle = style, ++Recreations; }
  void SetWindowState(TWindowState state) override { WindowState = state; }
  void SetFocus() override { Focused = true; }
};

struct HeadlessStatusBar : HeadlessControl, IStatusBarBackend {
  std::vector<int> Widths;
  std::vector<AnsiString> Texts;
  HEADLESS_BASICS
  void SetPanels(const std::vector<int>& widths) override { Widths = widths, Texts.assign(widths.size(), {}); }
  void SetPanelText(int i, const AnsiString& text) override { Texts.at(static_cast<size_t>(i)) = text; }
};

struct HeadlessProgressBar : HeadlessControl, IProgressBarBackend {
  int Min = 0, Max = 100, Shown = 0;
  HEADLESS_BASICS
  void SetRange(int min, int max) override { Min = min, Max = max; }
  void SetPosition(int position) override { Shown = position; }
};

// A page's script as a test writes it: functions by name. A function throws a
// TExcepInfo to raise a script error.
struct HeadlessScript : IScriptDispatch {
  std::vector<std::pair<WideString, std::function<Variant(const std::vector<Variant>&)>>> Functions;
  int Calls = 0;
  HRESULT GetIDsOfNames(const WideString& name, DISPID& id) override;
  HRESULT Invoke(DISPID id, uint16_t flags, const std::vector<Variant>& args, Variant* result,
                 TExcepInfo* excepInfo) override;
};

// A document a test builds: its cookie, its script, and whether a listener is connected.
struct HeadlessDocument : IHTMLDocument2, std::enable_shared_from_this<HeadlessDocument> {
  explicit HeadlessDocument(std::string cookieUtf8 = {}) : Cookie(Utf8ToWide(cookieUtf8)) {
    Root->OnSubmit = [this](THtmlNode& form) { Submits.push_back(form.Attr("name")); };
  }
  WideString Cookie;
  bool HasConnectionPoints = true;
  std::vector<IDocumentEventSink*> Sinks;
  int Disconnects = 0;
  std::shared_ptr<HeadlessScript> ScriptObj = std::make_shared<HeadlessScript>();
  WideString cookie() override { return Cookie; }
  std::shared_ptr<IScriptDispatch> Script() override { return ScriptObj; }
  // The page's elements, built by a test; submit() of a form counts in Submits.
  std::shared_ptr<THtmlNode> Root = THtmlNode::Make("HTML");
  std::vector<std::string> Submits;
  std::shared_ptr<IHTMLElementCollection> forms() override;
  std::shared_ptr<IConnection> Advise(IDocumentEventSink& sink) override;
  // The user clicks or types on an element: every connected sink hears of it.
  void Fire(const AnsiString& eventName, const std::shared_ptr<THtmlNode>& src);
};

struct HeadlessBrowser : HeadlessControl, IBrowserBackend {
  explicit HeadlessBrowser(IBrowserEvents& events) : Events(events) {}
  IBrowserEvents& Events;  // a test raises the browser's events through these
  std::vector<WideString> Navigations;
  AnsiString UserAgent, DisabledCtrlShortcuts;
  unsigned HostFlags = 0;
  std::shared_ptr<HeadlessDocument> Doc;
  HEADLESS_BASICS
  void Navigate(const WideString& target) override { Navigations.push_back(target); }
  void SetUserAgent(const AnsiString& ua) override { UserAgent = ua; }
  void SetHostFlags(unsigned flags) override { HostFlags = flags; }
  void SetDisabledCtrlShortcuts(const AnsiString& letters) override { DisabledCtrlShortcuts = letters; }
  std::shared_ptr<IHTMLDocument2> Document() override { return Doc; }
  // The browser finished a document: it becomes the current one when top-level.
  void Complete(std::shared_ptr<HeadlessDocument> doc, bool topLevel = true);
  std::string LastNavigationUtf8() const { return Navigations.empty() ? "" : WideToUtf8(Navigations.back()); }
};

class THeadlessWidgetset : public IWidgetset {
 public:
  int MessageBox(const MessageBoxRequest& request) override;
  std::unique_ptr<IFormBackend> CreateForm(TForm& form, IFormEvents& events) override;
  std::unique_ptr<IControlBackend> CreatePanel(TPanel& panel) override;
  std::unique_ptr<IStatusBarBackend> CreateStatusBar(TStatusBar& bar) override;
  std::unique_ptr<IProgressBarBackend> CreateProgressBar(TProgressBar& bar) override;
  std::unique_ptr<IBrowserBackend> CreateBrowser(TEmbeddedWB& browser, IBrowserEvents& events) override;
  void RunMessageLoop() override { ++LoopRuns; }
  void QuitMessageLoop() override { ++LoopQuits; }
  void ProcessMessagesUntil(const std::function<bool()>& done) override;
  TRect VirtualScreen() override { return Virtual; }
  TRect PrimaryScreen() override { return Primary; }
  bool ApplySkin(const AnsiString& fileName) override;
  TRect DefaultPlacement(TRect current, bool defaultSize) override {
    return {DefaultPlace.Left, DefaultPlace.Top, defaultSize ? DefaultPlace.Width : current.Width,
            defaultSize ? DefaultPlace.Height : current.Height};
  }
  void ClearUrlHistory() override { ++HistoryClears; }
  void ClearCache(unsigned entryKinds) override { CacheClears.push_back(entryKinds); }

  // Peers of the program's controls, by the control.
  HeadlessForm& Of(const TForm& form) { return *static_cast<HeadlessForm*>(Peers.at(&form)); }
  HeadlessStatusBar& Of(const TStatusBar& bar) { return *static_cast<HeadlessStatusBar*>(Peers.at(&bar)); }
  HeadlessProgressBar& Of(const TProgressBar& bar) { return *static_cast<HeadlessProgressBar*>(Peers.at(&bar)); }
  HeadlessBrowser& Of(const TEmbeddedWB& wb) { return *static_cast<HeadlessBrowser*>(Peers.at(&wb)); }

  std::vector<MessageBoxRequest> Boxes;  // every box shown, in order
  std::deque<int> Answers;               // next answers; when empty, the box's first button
  std::vector<AnsiString> Skins;         // skin files applied
  bool SkinsWork = true;
  std::deque<std::function<void()>> Pending;  // what "happens" while the program waits
  TRect Virtual{0, 0, 1280, 1024}, Primary{0, 0, 1280, 1024};
  int LoopRuns = 0, LoopQuits = 0;
  TRect DefaultPlace{24, 24, 960, 720};  // the system's place (and size) for a new window
  int HistoryClears = 0;
  std::vector<unsigned> CacheClears;
  void Reset();

 private:
  std::map<const void*, IControlBackend*> Peers;
};
