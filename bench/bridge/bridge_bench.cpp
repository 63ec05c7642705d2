// The synchronous window.external round trip (GetAppPath through the program's own
// channel and object) next to an asynchronous one (a script message, answered by
// evaluating script back into the page), in one web view and one run.
//
// The page's clock has a resolution of 1 ms here, so every round trip is timed on this
// side: the time between two consecutive calls reaching the program is one whole round
// trip (page -> program -> page -> next call). The page's own total over all calls is
// printed beside it as a check.
#include "BrowserToHostImpl.h"
#include "Forms.h"
#include "gtk/GtkBridge.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The three kinds take turns in blocks, so that a busy machine weighs on all alike.
constexpr int kRounds = 20, kBlock = 500, kWarmUp = 500;
constexpr int kCalls = kRounds * kBlock;

const char kPage[] = R"HTML(<!DOCTYPE html>
<html><body><script>
var ROUNDS = @ROUNDS@, BLOCK = @BLOCK@, WARM = @WARM@;
var total = {sync: 0, floor: 0, async: 0};
function post(m) { window.webkit.messageHandlers.bench.postMessage(m); }
function timed(kind, f) { var t = Date.now(); f(); total[kind] += Date.now() - t; }
function syncBlock(n) { for (var i = 0; i < n; i++) external.GetAppPath(); }
function floorBlock(n) { for (var i = 0; i < n; i++) prompt('bench-floor', ''); }
var left = 0, then = null, asyncStart = 0;
window.benchReply = function () {
  if (--left > 0) { post('ping'); return; }
  total.async += Date.now() - asyncStart;
  setTimeout(then, 0);
};
function asyncBlock(n, next) { left = n; then = next; asyncStart = Date.now(); post('ping'); }
// Each block makes one call more than it counts: the first interval of a block
// spans the change from the other kinds.
function round(r) {
  if (r === ROUNDS) { post('done:' + total.sync + ':' + total.floor + ':' + total.async); return; }
  var n = r < 0 ? WARM : BLOCK + 1;
  timed('sync', function () { syncBlock(n); });
  timed('floor', function () { floorBlock(n); });
  asyncBlock(n, function () { round(r + 1); });
}
window.addEventListener('load', function () {
  setTimeout(function () { total = {sync: 0, floor: 0, async: 0}; round(-1); }, 100);
});
</script></body></html>
)HTML";

// Every request of the page gets the program's own object, whatever the origin.
struct BenchEvents : IBrowserEvents {
  std::vector<Clock::time_point> Calls;
  void DocumentComplete(bool, const WideString&) override {}
  void NavigateError(int32_t, const WideString&, bool) override {}
  void ProgressChange(int32_t, int32_t) override {}
  void StatusTextChange(const WideString&) override {}
  void TitleChange(const WideString&) override {}
  bool ScriptError(const WideString&) override { return false; }
  std::shared_ptr<IAutoDispatch> GetExternal(const AnsiString&) override {
    Calls.push_back(Clock::now());
    return std::make_shared<TBrowserToHost>();
  }
};

struct Bench {
  BenchEvents Events;
  WebKitWebView* View = nullptr;
  GtkBridge* Bridge = nullptr;
  std::vector<Clock::time_point> Pings, Floor;
  std::string CallPayload;  // a GetAppPath payload as the page sends it
  double SyncPageMs = -1, FloorPageMs = -1, AsyncPageMs = -1;
  bool Failed = false;
};

struct Stats {
  double Median, P99;
};

// Microseconds between consecutive times within each measured block (the last
// kRounds blocks of kBlock + 1 times).
Stats Intervals(const std::vector<Clock::time_point>& times) {
  std::vector<double> us;
  size_t first = times.size() - size_t(kRounds) * (kBlock + 1);
  for (size_t b = first; b < times.size(); b += kBlock + 1)
    for (size_t i = b + 1; i < b + kBlock + 1; ++i)
      us.push_back(std::chrono::duration<double, std::micro>(times[i] - times[i - 1]).count());
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

gboolean PeekDialog(WebKitWebView*, WebKitScriptDialog* dialog, Bench* bench) {
  if (webkit_script_dialog_get_dialog_type(dialog) != WEBKIT_SCRIPT_DIALOG_PROMPT) return FALSE;
  // The least a prompt() round trip costs: answered at once, nothing looked at.
  if (std::strcmp(webkit_script_dialog_get_message(dialog), "bench-floor") == 0) {
    bench->Floor.push_back(Clock::now());
    webkit_script_dialog_prompt_set_text(dialog, "");
    return TRUE;
  }
  {
    const char* text = webkit_script_dialog_prompt_get_default_text(dialog);
    if (text && std::string(text).find("\"GetAppPath\"") != std::string::npos && bench->CallPayload.empty())
      bench->CallPayload = text;
  }
  return FALSE;  // the channel answers
}

void Finish(Bench* bench) {
  size_t sync = bench->Events.Calls.size(), async = bench->Pings.size(), want = size_t(kRounds) * (kBlock + 1);
  if (sync < want || async < want || bench->Floor.size() < want || bench->CallPayload.empty()) {
    std::fprintf(stderr, "bridge_bench: the page made %zu calls and %zu messages\n", sync, async);
    bench->Failed = true;
    gtk_main_quit();
    return;
  }
  Stats s = Intervals(bench->Events.Calls);
  Stats a = Intervals(bench->Pings);
  Stats f = Intervals(bench->Floor);

  // The program's part of a call: the same payload answered without a page.
  std::vector<double> answer;
  for (int i = 0; i < kCalls; ++i) {
    auto t0 = Clock::now();
    std::string out = bench->Bridge->Answer(bench->CallPayload);
    answer.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    if (out.rfind("{\"ok\":1", 0) != 0) {
      std::fprintf(stderr, "bridge_bench: the channel refused the call: %s\n", out.c_str());
      bench->Failed = true;
      break;
    }
  }
  std::sort(answer.begin(), answer.end());

  std::printf("%d round trips of each, in %d blocks taking turns, after %d to warm up\n", kCalls, kRounds, kWarmUp);
  double perCall = 1000.0 / (kRounds * (kBlock + 1));
  std::printf("  %-44s median %7.1f us   p99 %7.1f us   page mean %6.1f us\n",
              "sync: window.external.GetAppPath()", s.Median, s.P99, bench->SyncPageMs * perCall);
  std::printf("  %-44s median %7.1f us   p99 %7.1f us   page mean %6.1f us\n",
              "async: script message, then evaluate back", a.Median, a.P99, bench->AsyncPageMs * perCall);
  std::printf("  %-44s median %7.1f us   p99 %7.1f us   page mean %6.1f us\n",
              "bare prompt(), answered at once", f.Median, f.P99, bench->FloorPageMs * perCall);
  std::printf("  %-44s median %7.1f us\n", "the program's part of a sync call", answer[answer.size() / 2]);
  double ratio = a.Median / s.Median;
  bool met = s.Median <= 150.0 && ratio >= 2.0;
  std::printf("  async/sync medians %.2fx; goal (sync median <= 150 us, >= 2x faster): %s\n", ratio,
              met ? "met" : "NOT met");
  gtk_main_quit();
}

void OnMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, Bench* bench) {
  gchar* text = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
  std::string m = text ? text : "";
  g_free(text);
  if (m == "ping") {
    bench->Pings.push_back(Clock::now());
    webkit_web_view_evaluate_javascript(bench->View, "benchReply()", -1, nullptr, nullptr, nullptr, nullptr,
                                        nullptr);
  } else if (m.rfind("done:", 0) == 0) {
    std::sscanf(m.c_str(), "done:%lf:%lf:%lf", &bench->SyncPageMs, &bench->FloorPageMs, &bench->AsyncPageMs);
    Finish(bench);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "bridge_bench: cannot open the display\n");
    return 1;
  }
  Application->Initialize(1, argv);  // the executable's path, for GetAppPath

  Bench bench;
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  bench.View = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, nullptr));
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(bench.View);
  g_signal_connect(bench.View, "script-dialog", G_CALLBACK(PeekDialog), &bench);  // before the channel's
  auto bridge = std::make_unique<GtkBridge>(bench.View, content, bench.Events);
  bench.Bridge = bridge.get();
  webkit_user_content_manager_register_script_message_handler(content, "bench");
  g_signal_connect(content, "script-message-received::bench", G_CALLBACK(OnMessage), &bench);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 640, 480);
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(bench.View));
  gtk_widget_show_all(window);

  std::string page = kPage;
  page.replace(page.find("@ROUNDS@"), 8, std::to_string(kRounds));
  page.replace(page.find("@BLOCK@"), 7, std::to_string(kBlock));
  page.replace(page.find("@WARM@"), 6, std::to_string(kWarmUp));
  // An origin of 127.0.0.1 with nothing behind it: the page comes from here.
  webkit_web_view_load_html(bench.View, page.c_str(), "http://127.0.0.1/");

  g_timeout_add_seconds(
      600,
      [](gpointer data) -> gboolean {
        std::fprintf(stderr, "bridge_bench: no result within 10 minutes\n");
        static_cast<Bench*>(data)->Failed = true;
        gtk_main_quit();
        return G_SOURCE_REMOVE;
      },
      &bench);
  gtk_main();
  bridge.reset();
  gtk_widget_destroy(window);
  g_object_unref(context);
  return bench.Failed ? 1 : 0;
}
