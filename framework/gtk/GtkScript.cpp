// Calls from the program into the page: evaluated asynchronously by WebKit, waited
// for in a nested main loop so that the caller sees a synchronous call.
#include "GtkPeers.h"
#include "JsonText.h"

#include <webkit2/webkit2.h>

#include <cmath>

std::optional<std::string> EvaluateInPage(WebKitWebView* view, const std::string& script) {
  struct Wait {
    bool done = false;
    std::optional<std::string> result;
  } wait;
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        auto* w = static_cast<Wait*>(data);
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
        if (value) {
          gchar* s = jsc_value_to_string(value);
          w->result = s ? s : "";
          g_free(s);
          g_object_unref(value);
        }
        g_clear_error(&error);
        w->done = true;
      },
      &wait);
  while (!wait.done) g_main_context_iteration(nullptr, TRUE);
  return wait.result;
}

namespace {

std::string Literal(const std::string& utf8) { return JsonQuote(utf8); }

std::string ArgumentLiteral(const Variant& v) {
  switch (v.Type()) {
    case varEmpty: return "undefined";
    case varNull: return "null";
    case varBoolean: return v.AsBoolRaw() ? "true" : "false";
    case varDouble:
    case varSingle: return std::isfinite(v.AsDoubleRaw()) ? FloatToStr(v.AsDoubleRaw(), 17) : "NaN";
    case varOleStr: return Literal(WideToUtf8(v.AsStrRaw()));
    default: return std::to_string(v.AsIntRaw());
  }
}

// The typed result of a call, or the error it raised, as JSON text.
const char kCall[] = R"JS((function (f, args) {
  try {
    if (typeof f !== 'function') return JSON.stringify({t: 'nf'});
    var r = f.apply(window, args), t = typeof r;
    if (r === undefined) return JSON.stringify({t: 'u'});
    if (r === null) return JSON.stringify({t: 'z'});
    if (t === 'number') return JSON.stringify({t: 'n', v: String(r)});
    if (t === 'boolean') return JSON.stringify({t: 'b', v: r});
    if (t === 'string') return JSON.stringify({t: 's', v: r});
    var text; try { text = String(r); } catch (e) { text = null; }
    return JSON.stringify({t: 'o', v: text});
  } catch (e) {
    var d, s;
    try { d = String(e && e.message !== undefined ? e.message : e); } catch (x) { d = ''; }
    try { s = String(e && e.name ? e.name : 'Error'); } catch (x) { s = 'Error'; }
    return JSON.stringify({t: 'x', d: d, s: s});
  }
}))JS";

class PageScript : public IScriptDispatch {
 public:
  explicit PageScript(WebKitWebView* view) : FView(view) { g_object_ref(FView); }
  ~PageScript() override { g_object_unref(FView); }

  HRESULT GetIDsOfNames(const WideString& name, DISPID& id) override {
    FName = WideToUtf8(name);
    auto r = EvaluateInPage(FView, "typeof window[" + Literal(FName) + "] === 'function'");
    if (r != "true") return DISP_E_UNKNOWNNAME;
    id = 1;
    return S_OK;
  }

  HRESULT Invoke(DISPID, uint16_t, const std::vector<Variant>& args, Variant* result,
                 TExcepInfo* excepInfo) override {
    std::string list;
    for (auto& a : args) list += (list.empty() ? "" : ",") + ArgumentLiteral(a);
    auto text = EvaluateInPage(FView, std::string(kCall) + "(window[" + Literal(FName) + "], [" + list + "])");
    Variant out;
    if (!text) {  // the page went away meanwhile: nothing came back
      *result = out;
      return S_OK;
    }
    JSCContext* ctx = jsc_context_new();
    JSCValue* obj = jsc_value_new_from_json(ctx, text->c_str());
    auto field = [&](const char* n) -> std::optional<std::string> {
      std::optional<std::string> v;
      if (!obj || !jsc_value_is_object(obj)) return v;
      JSCValue* f = jsc_value_object_get_property(obj, n);
      if (!jsc_value_is_undefined(f) && !jsc_value_is_null(f)) {
        gchar* s = jsc_value_to_string(f);
        v = s ? s : "";
        g_free(s);
      }
      g_object_unref(f);
      return v;
    };
    std::string t = field("t").value_or("u");
    HRESULT hr = S_OK;
    if (t == "nf") {
      hr = DISP_E_MEMBERNOTFOUND;
    } else if (t == "x") {
      if (excepInfo) *excepInfo = {Utf8ToWide(field("s").value_or("")), Utf8ToWide(field("d").value_or("")), 0};
      hr = DISP_E_EXCEPTION;
    } else if (t == "z") {
      out = Variant::Null();
    } else if (t == "b") {
      out = Variant::Bool(field("v") == "true");
    } else if (t == "s") {
      out = Variant::Str(Utf8ToWide(field("v").value_or("")));
    } else if (t == "n") {
      double d = std::strtod(field("v").value_or("NaN").c_str(), nullptr);
      out = d == std::trunc(d) && d >= -2147483648.0 && d <= 2147483647.0 ? Variant::Int(int32_t(d)) : Variant::Dbl(d);
    } else if (t == "o") {
      auto v = field("v");
      out = Variant::Object(v ? std::make_shared<const Variant>(Variant::Str(Utf8ToWide(*v))) : nullptr);
    }
    if (obj) g_object_unref(obj);
    g_object_unref(ctx);
    *result = out;
    return hr;
  }

 private:
  WebKitWebView* FView;
  std::string FName;
};

}  // namespace

std::shared_ptr<IScriptDispatch> MakePageScript(WebKitWebView* view) { return std::make_shared<PageScript>(view); }
