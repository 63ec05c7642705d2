// The browser control on GTK: a WebKitGTK web view with the program's host options,
// its events mapped to those the program handles.
#include "../EmbeddedWB.h"
#include "../HtmlSnapshot.h"
#include "GtkBridge.h"
#include "GtkPeers.h"
#include "GtkWidgetset.h"
#include "TestEvents.h"

#include <gdk/gdkkeysyms.h>

#include <cmath>

namespace {

// Reports of the page that WebKit does not raise itself: script errors, and documents
// of frames completing. Runs in every frame before the page's own script.
const char kPageScript[] = R"JS(
(function () {
  var post = function (m) { try { window.webkit.messageHandlers.lumetra.postMessage(JSON.stringify(m)); } catch (e) {} };
  window.addEventListener('error', function (e) {
    post({kind: 'scripterror', message: String(e.message || e.error || 'Script error')});
    e.preventDefault();
  }, true);
  if (window !== window.top) {
    window.addEventListener('load', function () { post({kind: 'framecomplete', url: String(location.href)}); });
  }
})();
)JS";

const char kNoScrollBars[] = "html, body { overflow: hidden !important; }";

// Main-frame network failures as the browser control's status codes.
//   name not resolved, connection refused  -> 0x800C0005 server or proxy not found
//   timed out                              -> 0x800C000B connection timed out
//   TLS/certificate problems               -> 0x800C000E security problem
//   unknown scheme                         -> 0x800C000D unknown protocol
//   anything else                          -> 0x800C0008 download failure
//   cancelled, replaced by another load, a local file missing -> none: not an error
//   of the server (a missing local page shows the engine's own "not found" rather
//   than sending the user round in error pages)
std::optional<int32_t> StatusForLoadError(const GError* error) {
  if (error->domain == WEBKIT_NETWORK_ERROR && error->code == WEBKIT_NETWORK_ERROR_CANCELLED) return std::nullopt;
  if (error->domain == WEBKIT_POLICY_ERROR) return std::nullopt;
  if (error->domain == WEBKIT_NETWORK_ERROR && error->code == WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST) return std::nullopt;
  if (error->domain == G_RESOLVER_ERROR) return static_cast<int32_t>(0x800C0005);
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CONNECTION_REFUSED:
      case G_IO_ERROR_HOST_UNREACHABLE:
      case G_IO_ERROR_NETWORK_UNREACHABLE: return static_cast<int32_t>(0x800C0005);
      case G_IO_ERROR_TIMED_OUT: return static_cast<int32_t>(0x800C000B);
      default: break;
    }
  }
  if (error->domain == G_TLS_ERROR) return static_cast<int32_t>(0x800C000E);
  if (error->domain == WEBKIT_NETWORK_ERROR && error->code == WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL)
    return static_cast<int32_t>(0x800C000D);
  return static_cast<int32_t>(0x800C0008);
}

// A plain navigation takes a URL, a file path, or a bare host and path.
std::string ToUri(const std::string& target) {
  if (target.empty()) return "about:blank";
  if (target[0] == '/') {
    gchar* uri = g_filename_to_uri(target.c_str(), nullptr, nullptr);
    std::string out = uri ? uri : "about:blank";
    g_free(uri);
    return out;
  }
  gchar* scheme = g_uri_parse_scheme(target.c_str());
  bool hasScheme = scheme != nullptr;
  g_free(scheme);
  return hasScheme ? target : "http://" + target;
}

class BrowserPeer;

class GtkDocument : public IHTMLDocument2 {
 public:
  GtkDocument(BrowserPeer* browser, unsigned generation) : FBrowser(browser), FGeneration(generation) {}
  WideString cookie() override;
  std::shared_ptr<IScriptDispatch> Script() override;
  std::shared_ptr<IHTMLElementCollection> forms() override;
  std::shared_ptr<IConnection> Advise(IDocumentEventSink& sink) override;

 private:
  BrowserPeer* FBrowser;
  unsigned FGeneration;
};

class BrowserPeer : public GtkPeer, public IBrowserBackend {
 public:
  BrowserPeer(TGtkWidgetset& ws, IBrowserEvents& events)
      : GtkPeer(GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", ws.WebContext(), nullptr))),
        Events(events),
        Widgets(ws) {
    View = WEBKIT_WEB_VIEW(FWidget);
    Content = webkit_web_view_get_user_content_manager(View);
    webkit_user_content_manager_add_script(
        Content, webkit_user_script_new(kPageScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr));
    webkit_user_content_manager_register_script_message_handler(Content, "lumetra");
    Bridge = std::make_unique<GtkBridge>(View, Content, Events);
    // A connected listener hears the events of the document it was connected to only.
    Bridge->OnDocumentEvent = [this](const AnsiString& name, const std::shared_ptr<THtmlNode>& root,
                                     const std::shared_ptr<THtmlNode>& target) {
      Snapshot = root;
      THtmlEvent event(target);
      for (auto& [generation, sink] : std::vector(Sinks))
        if (generation == Generation) sink->DocumentEvent(name, event);
    };
    g_signal_connect(Content, "script-message-received::lumetra", G_CALLBACK(OnScriptMessage), this);
    g_signal_connect(View, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(View, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(View, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(View, "notify::estimated-load-progress", G_CALLBACK(OnProgress), this);
    g_signal_connect(View, "notify::title", G_CALLBACK(OnTitle), this);
    g_signal_connect(View, "mouse-target-changed", G_CALLBACK(OnMouseTarget), this);
    g_signal_connect(View, "key-press-event", G_CALLBACK(OnKeyPress), this);
  }
  ~BrowserPeer() override {
    Bridge.reset();
    g_signal_handlers_disconnect_by_data(Content, this);
    g_signal_handlers_disconnect_by_data(View, this);
    if (NoScroll) webkit_user_style_sheet_unref(NoScroll);
  }

  void SetParent(IControlBackend* parent, TAlign align) override { DoSetParent(parent, align); }
  void SetBounds(TRect bounds) override { DoSetBounds(bounds); }
  void SetVisible(bool visible) override { DoSetVisible(visible); }

  void Navigate(const WideString& target) override {
    std::string utf8 = WideToUtf8(target);
    testevents::Emit("navigate", {{"target", utf8}});
    webkit_web_view_load_uri(View, ToUri(utf8).c_str());
  }

  void SetUserAgent(const AnsiString& userAgent) override {
    webkit_settings_set_user_agent(webkit_web_view_get_settings(View), AnsiToUtf8(userAgent).c_str());
  }

  // Only the scroll bars have a meaning here; the style sheet applies to the page
  // on display at once.
  void SetHostFlags(unsigned flags) override {
    bool noScroll = flags & hostflag::ScrollNo;
    if (noScroll == (NoScroll != nullptr)) return;
    if (noScroll) {
      NoScroll = webkit_user_style_sheet_new(kNoScrollBars, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                             WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
      webkit_user_content_manager_add_style_sheet(Content, NoScroll);
    } else {
      webkit_user_content_manager_remove_style_sheet(Content, NoScroll);
      webkit_user_style_sheet_unref(NoScroll);
      NoScroll = nullptr;
    }
  }

  void SetDisabledCtrlShortcuts(const AnsiString& letters) override { CtrlLetters = AnsiUpperCase(letters); }

  std::shared_ptr<IHTMLDocument2> Document() override {
    if (!webkit_web_view_get_uri(View) || Generation == 0) return nullptr;
    return std::make_shared<GtkDocument>(this, Generation);
  }

  // Runs a script in the top-level document and waits for its result as text.
  // Never while the page waits for the program: the page could not answer.
  std::optional<std::string> EvaluateToString(const char* script) {
    // An event raised inside a bridge call's nested loop (a message box) would wait
    // for a page that is itself waiting for the call: no answer rather than a hang.
    if (Bridge->Answering()) return std::nullopt;
    return EvaluateInPage(View, script);
  }

  IBrowserEvents& Events;
  TGtkWidgetset& Widgets;
  WebKitWebView* View;
  WebKitUserContentManager* Content;
  WebKitUserStyleSheet* NoScroll = nullptr;
  std::unique_ptr<GtkBridge> Bridge;
  std::shared_ptr<THtmlNode> Snapshot;  // the top-level document's elements at its last event
  AnsiString CtrlLetters;
  unsigned Generation = 0;  // of the top-level document: one more for each committed load
  bool LoadFailed = false;
  std::vector<std::pair<unsigned, IDocumentEventSink*>> Sinks;

 private:
  // Events the program may answer with a new navigation are raised from the main
  // loop, never from inside WebKit's own signal emission.
  template <typename F>
  void Later(F f) {
    auto* fn = new std::function<void()>(std::move(f));
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer d) -> gboolean {
          (*static_cast<std::function<void()>*>(d))();
          return G_SOURCE_REMOVE;
        },
        fn, [](gpointer d) { delete static_cast<std::function<void()>*>(d); });
  }

  static std::string Uri(WebKitWebView* v) {
    const char* u = webkit_web_view_get_uri(v);
    return u ? u : "";
  }

  static void OnLoadChanged(WebKitWebView* v, WebKitLoadEvent e, BrowserPeer* self) {
    if (e == WEBKIT_LOAD_STARTED) self->LoadFailed = false;
    if (e == WEBKIT_LOAD_COMMITTED) {
      ++self->Generation;
      self->Widgets.RecordVisit(Uri(v));
    }
    if (e != WEBKIT_LOAD_FINISHED || self->LoadFailed) return;
    std::string uri = Uri(v);
    testevents::Emit("loaded", {{"uri", uri}});
    self->Later([self, uri] { self->Events.DocumentComplete(true, Utf8ToWide(uri)); });
  }

  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, BrowserPeer* self) {
    // A failed or cancelled load is not a completed document, whatever comes next.
    self->LoadFailed = true;
    auto status = StatusForLoadError(error);
    if (!status) return FALSE;
    std::string failed = uri ? uri : "";
    testevents::Emit("loadfailed", {{"uri", failed}, {"error", error->message}});
    self->Later([self, failed, code = *status] { self->Events.NavigateError(code, Utf8ToWide(failed), true); });
    return TRUE;  // no engine error page
  }

  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* d, WebKitPolicyDecisionType type,
                                 BrowserPeer* self) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    auto* rd = WEBKIT_RESPONSE_POLICY_DECISION(d);
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(rd);
    guint status = webkit_uri_response_get_status_code(response);
    if (status >= 400) {
      bool top = webkit_response_policy_decision_is_main_frame_main_resource(rd);
      std::string uri = webkit_uri_response_get_uri(response);
      self->Later([self, uri, status, top] { self->Events.NavigateError(int32_t(status), Utf8ToWide(uri), top); });
    }
    return FALSE;
  }

  static void OnProgress(WebKitWebView* v, GParamSpec*, BrowserPeer* self) {
    double p = webkit_web_view_get_estimated_load_progress(v);
    self->Events.ProgressChange(int32_t(std::lround(p * 10000)), 10000);
  }

  static void OnTitle(WebKitWebView* v, GParamSpec*, BrowserPeer* self) {
    const char* t = webkit_web_view_get_title(v);
    if (t && *t) self->Events.TitleChange(Utf8ToWide(t));
  }

  static void OnMouseTarget(WebKitWebView*, WebKitHitTestResult* hit, guint, BrowserPeer* self) {
    const char* link = webkit_hit_test_result_context_is_link(hit) ? webkit_hit_test_result_get_link_uri(hit) : "";
    self->Events.StatusTextChange(Utf8ToWide(link ? link : ""));
  }

  static gboolean OnKeyPress(GtkWidget*, GdkEventKey* e, BrowserPeer* self) {
    if (!(e->state & GDK_CONTROL_MASK) || (e->state & GDK_SHIFT_MASK)) return FALSE;
    guint key = gdk_keyval_to_upper(e->keyval);
    return key < 128 && self->CtrlLetters.find(char(key)) != AnsiString::npos;
  }

  static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, BrowserPeer* self) {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    gchar* json = jsc_value_to_string(value);
    std::string text = json ? json : "";
    g_free(json);
    JSCContext* ctx = jsc_context_new();
    JSCValue* obj = jsc_value_new_from_json(ctx, text.c_str());
    auto field = [&](const char* name) {
      std::string out;
      if (obj && jsc_value_is_object(obj)) {
        JSCValue* f = jsc_value_object_get_property(obj, name);
        if (jsc_value_is_string(f)) {
          gchar* s = jsc_value_to_string(f);
          out = s;
          g_free(s);
        }
        g_object_unref(f);
      }
      return out;
    };
    std::string kind = field("kind");
    if (kind == "scripterror") {
      std::string message = field("message");
      testevents::Emit("scripterror", {{"message", message}});
      self->Later([self, message] { self->Events.ScriptError(Utf8ToWide(message)); });
    } else if (kind == "framecomplete") {
      std::string url = field("url");
      self->Later([self, url] { self->Events.DocumentComplete(false, Utf8ToWide(url)); });
    }
    if (obj) g_object_unref(obj);
    g_object_unref(ctx);
  }
};

struct GtkConnection : IConnection {
  BrowserPeer* Browser;
  IDocumentEventSink* Sink;
  bool Connected = true;
  GtkConnection(BrowserPeer* b, IDocumentEventSink* s) : Browser(b), Sink(s) {}
  void Disconnect() override {
    if (!Connected) return;
    Connected = false;
    std::erase_if(Browser->Sinks, [this](auto& p) { return p.second == Sink; });
  }
};

WideString GtkDocument::cookie() {
  if (FGeneration != FBrowser->Generation) return {};
  return Utf8ToWide(FBrowser->EvaluateToString("document.cookie").value_or(""));
}

std::shared_ptr<IScriptDispatch> GtkDocument::Script() {
  if (FGeneration != FBrowser->Generation || FBrowser->Bridge->Answering()) return nullptr;
  return MakePageScript(FBrowser->View);
}

// The page's forms as they stood when it last told the program of an event; a page
// that waits for the program cannot be asked anything.
std::shared_ptr<IHTMLElementCollection> GtkDocument::forms() {
  if (FGeneration != FBrowser->Generation || !FBrowser->Snapshot) return nullptr;
  return std::make_shared<THtmlForms>(FBrowser->Snapshot);
}

std::shared_ptr<IConnection> GtkDocument::Advise(IDocumentEventSink& sink) {
  FBrowser->Sinks.push_back({FGeneration, &sink});
  return std::make_shared<GtkConnection>(FBrowser, &sink);
}

}  // namespace

WebKitWebContext* TGtkWidgetset::WebContext() {
  if (!FWebContext) {
    // Browsing data in folders of the program's own, so clearing it touches nothing else.
    gchar* data = g_build_filename(g_get_user_data_dir(), "lumetra", "webdata", nullptr);
    gchar* cache = g_build_filename(g_get_user_cache_dir(), "lumetra", "webcache", nullptr);
    WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
        "base-data-directory", data, "base-cache-directory", cache, nullptr);
    FWebContext = webkit_web_context_new_with_website_data_manager(manager);
    g_object_unref(manager);
    g_free(data);
    g_free(cache);
  }
  return FWebContext;
}

std::unique_ptr<IBrowserBackend> TGtkWidgetset::CreateBrowser(TEmbeddedWB&, IBrowserEvents& events) {
  return std::make_unique<BrowserPeer>(*this, events);
}
