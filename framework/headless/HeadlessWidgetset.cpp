#include "HeadlessWidgetset.h"

#include "../Dialogs.h"
#include "../EmbeddedWB.h"
#include "../Forms.h"

#include <algorithm>

namespace {
// Holds the document, as a real link keeps its connection point alive.
struct HeadlessConnection : IConnection {
  std::shared_ptr<HeadlessDocument> Doc;
  IDocumentEventSink* Sink;
  bool Connected = true;
  HeadlessConnection(std::shared_ptr<HeadlessDocument> d, IDocumentEventSink* s) : Doc(std::move(d)), Sink(s) {}
  void Disconnect() override {
    if (!Connected) return;
    Connected = false;
    ++Doc->Disconnects;
    std::erase(Doc->Sinks, Sink);
  }
};
}  // namespace

std::shared_ptr<IConnection> HeadlessDocument::Advise(IDocumentEventSink& sink) {
  if (!HasConnectionPoints) return nullptr;
  Sinks.push_back(&sink);
  return std::make_shared<HeadlessConnection>(shared_from_this(), &sink);
}

void HeadlessDocument::Fire(const AnsiString& eventName, const std::shared_ptr<THtmlNode>& src) {
  THtmlEvent event(src);
  for (auto* sink : std::vector<IDocumentEventSink*>(Sinks)) sink->DocumentEvent(eventName, event);
}

std::shared_ptr<IHTMLElementCollection> HeadlessDocument::forms() {
  return std::make_shared<THtmlForms>(Root);
}

HRESULT HeadlessScript::GetIDsOfNames(const WideString& name, DISPID& id) {
  for (size_t i = 0; i < Functions.size(); ++i)
    if (Functions[i].first == name) {
      id = static_cast<DISPID>(i);
      return S_OK;
    }
  return DISP_E_UNKNOWNNAME;
}

HRESULT HeadlessScript::Invoke(DISPID id, uint16_t, const std::vector<Variant>& args, Variant* result,
                               TExcepInfo* excepInfo) {
  ++Calls;
  try {
    *result = Functions.at(static_cast<size_t>(id)).second(args);
    return S_OK;
  } catch (const TExcepInfo& e) {
    if (excepInfo) *excepInfo = e;
    return DISP_E_EXCEPTION;
  }
}

void HeadlessBrowser::Complete(std::shared_ptr<HeadlessDocument> doc, bool topLevel) {
  if (topLevel) Doc = doc;
  Events.DocumentComplete(topLevel, u"about:blank");
}

int THeadlessWidgetset::MessageBox(const MessageBoxRequest& request) {
  Boxes.push_back(request);
  if (!Answers.empty()) {
    int answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  return (request.Flags & mb::ButtonsMask) == mb::YesNo ? mr::Yes : mr::OK;
}

template <typename Peer, typename... Args>
static std::unique_ptr<Peer> Make(std::map<const void*, IControlBackend*>& peers, const void* key, Args&... args) {
  auto p = std::make_unique<Peer>(args...);
  peers[key] = p.get();
  return p;
}

std::unique_ptr<IFormBackend> THeadlessWidgetset::CreateForm(TForm& form, IFormEvents& events) {
  return Make<HeadlessForm>(Peers, &form, events);
}
std::unique_ptr<IControlBackend> THeadlessWidgetset::CreatePanel(TPanel& panel) {
  return Make<HeadlessPanel>(Peers, &panel);
}
std::unique_ptr<IStatusBarBackend> THeadlessWidgetset::CreateStatusBar(TStatusBar& bar) {
  return Make<HeadlessStatusBar>(Peers, &bar);
}
std::unique_ptr<IProgressBarBackend> THeadlessWidgetset::CreateProgressBar(TProgressBar& bar) {
  return Make<HeadlessProgressBar>(Peers, &bar);
}
std::unique_ptr<IBrowserBackend> THeadlessWidgetset::CreateBrowser(TEmbeddedWB& browser, IBrowserEvents& events) {
  return Make<HeadlessBrowser>(Peers, &browser, events);
}

void THeadlessWidgetset::ProcessMessagesUntil(const std::function<bool()>& done) {
  while (!done() && !Pending.empty()) {
    auto next = std::move(Pending.front());
    Pending.pop_front();
    next();
  }
}

bool THeadlessWidgetset::ApplySkin(const AnsiString& fileName) {
  Skins.push_back(fileName);
  return SkinsWork;
}

void THeadlessWidgetset::Reset() {
  Boxes.clear();
  Answers.clear();
  Skins.clear();
  Pending.clear();
  LoopRuns = LoopQuits = 0;
  HistoryClears = 0;
  CacheClears.clear();
}
