#include "GtkBridge.h"

#include "../ComObj.h"

#include <sys/random.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// prompt()'s message for the channel. Pages can write it too; the secret is what counts.
const char kMarker[] = "lumetra:window.external";

// Runs before the page's own script in every frame. Everything the calls depend on is
// taken now, before the page can replace it, and the secret never appears inside a
// function the page can reach (a member's toString() shows only its own body). Payloads
// are built by concatenating primitives: JSON.stringify of an object would ask the
// page's toJSON hooks, and array writes its index setters.
const char kScriptTemplate[] = R"JS(
(function () {
  'use strict';
  var secret = '@SECRET@', marker = '@MARKER@';
  var W = window, prompt = W.prompt, apply = Reflect.apply, stringify = JSON.stringify,
      parse = JSON.parse, defineProperty = Object.defineProperty, create = Object.create,
      ProxyCtor = Proxy, ErrorCtor = Error, StringCtor = String, isInteger = Number.isInteger,
      lower = String.prototype.toLowerCase, decode = decodeURIComponent;
  var origin = '';
  try {
    var scheme = W.location.protocol;
    if (scheme === 'http:' || scheme === 'https:') origin = W.location.origin;
    else if (scheme === 'file:') origin = 'file://' + decode(W.location.pathname);
  } catch (e) { origin = ''; }
  if (!origin) return;
  var head = '{"token":' + stringify(secret) + ',"origin":' + stringify(origin);

  function ask(payload) {
    var text = null;
    try { text = apply(prompt, W, [marker, payload]); } catch (e) { text = null; }
    if (typeof text !== 'string') return null;
    try { return parse(text); } catch (e) { return null; }
  }

  function tag(v) {
    var t = typeof v;
    if (v === undefined) return '{"t":"e"}';
    if (v === null) return '{"t":"n"}';
    if (t === 'boolean') return v ? '{"t":"b","v":true}' : '{"t":"b","v":false}';
    if (t === 'string') return '{"t":"s","v":' + stringify(v) + '}';
    if (t === 'number') {
      if (isInteger(v) && v >= -2147483648 && v <= 2147483647) return '{"t":"i","v":' + (v | 0) + '}';
      return '{"t":"d","v":"' + v + '"}';
    }
    // An object stands for its default value, its text; one that has none to give
    // (toString throws, or nests too deep to print) arrives without one.
    var s;
    try { s = StringCtor(v); } catch (e) { return '{"t":"o"}'; }
    return typeof s === 'string' ? '{"t":"o","v":' + stringify(s) + '}' : '{"t":"o"}';
  }

  function fail(r) {
    var e = new ErrorCtor(r && typeof r.message === 'string' ? r.message : 'window.external is not available');
    if (r && typeof r.hr === 'number') {
      defineProperty(e, 'number', {value: r.hr, writable: true, configurable: true});
    }
    throw e;
  }

  function invoke(kind, name, args) {
    var p = head + ',"kind":"' + kind + '","name":' + stringify(name) + ',"args":[';
    for (var i = 0; i < args.length; i++) p += (i ? ',' : '') + tag(args[i]);
    var r = ask(p + ']}');
    if (!r || r.ok !== 1) fail(r);
    if (typeof r.d === 'string') return +r.d;
    return r.v;
  }

  var hello = ask(head + ',"kind":"hello"}');
  if (!hello || hello.ok !== 1 || !hello.members) return;
  var kinds = create(null), methods = create(null);
  for (var i = 0; i < hello.members.length; i++) {
    kinds[apply(lower, hello.members[i][0], [])] = hello.members[i][1];
  }
  function kindOf(name) { return typeof name === 'string' ? kinds[apply(lower, name, [])] : undefined; }

  var handler = create(null);
  handler.get = function (target, name) {
    if (typeof name !== 'string') return undefined;
    if (kindOf(name) !== 'method') return invoke('get', name, []);
    var key = apply(lower, name, []);
    if (!methods[key]) methods[key] = function () { return invoke('call', name, arguments); };
    return methods[key];
  };
  handler.set = function (target, name, value) {
    if (typeof name !== 'string') return false;
    invoke('put', name, [value]);
    return true;
  };
  handler.has = function (target, name) { return kindOf(name) !== undefined; };
  handler.deleteProperty = function () { return false; };
  handler.defineProperty = function () { return false; };
  handler.getOwnPropertyDescriptor = function () { return undefined; };
  handler.ownKeys = function () { return []; };
  handler.setPrototypeOf = function () { return false; };
  handler.preventExtensions = function () { return false; };
  defineProperty(W, 'external', {value: new ProxyCtor(create(null), handler), writable: false,
                                 configurable: false, enumerable: true});

  // Events of the top-level document, each with its elements as they stand: the
  // program reads them while the page waits and cannot be asked anything.
  if (W !== W.top) return;
  var doc = W.document, listen = EventTarget.prototype.addEventListener,
      all = Document.prototype.querySelectorAll, submitForm = HTMLFormElement.prototype.submit,
      MapCtor = Map, mapGet = Map.prototype.get, mapSet = Map.prototype.set, mapHas = Map.prototype.has,
      push = Array.prototype.push;
  var wanted = 'form, input, select, textarea, button';
  function str(v) { return stringify(v === undefined || v === null ? '' : StringCtor(v)); }
  function snapshot(target) {
    var nodes = [], elements = [], index = new MapCtor();
    function add(el) {
      if (apply(mapHas, index, [el])) return apply(mapGet, index, [el]);
      var parent = el.parentElement ? add(el.parentElement) : -1;
      var k = elements.length;
      apply(mapSet, index, [el, k]);
      apply(push, elements, [el]);
      var tag = StringCtor(el.tagName);
      var n = '{"g":' + stringify(tag) + ',"p":' + parent + ',"n":' + str(el.getAttribute('name')) +
              ',"i":' + str(el.getAttribute('id'));
      if (tag === 'INPUT') n += ',"y":' + str(el.type) + ',"c":' + (el.checked ? 'true' : 'false');
      if (tag === 'INPUT' || tag === 'SELECT' || tag === 'TEXTAREA') n += ',"v":' + str(el.value);
      apply(push, nodes, [n + '}']);
      return k;
    }
    var list = apply(all, doc, [wanted]);
    for (var i = 0; i < list.length; i++) add(list[i]);
    var t = target && target.nodeType === 1 ? add(target) : -1;
    return {text: '"nodes":[' + nodes.join(',') + '],"target":' + t, elements: elements};
  }
  function report(name) {
    return function (e) {
      var snap = snapshot(e.target);
      var r = ask(head + ',"kind":"event","name":"' + name + '",' + snap.text + '}');
      if (r && r.ok === 1 && r.submit) {
        for (var k = 0; k < r.submit.length; k++) {
          var f = snap.elements[r.submit[k]];
          if (f) { try { apply(submitForm, f, []); } catch (x) {} }
        }
      }
    };
  }
  apply(listen, doc, ['click', report('click'), true]);
  apply(listen, doc, ['keypress', report('keypress'), true]);
  apply(listen, doc, ['select', report('select'), true]);
})();
)JS";

// ---- the run's secret ----

std::string MakeSecret() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) break;
    got += size_t(n);
  }
  if (got < sizeof bytes) {
    // No getrandom (old kernel): the device gives the same.
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    while (fd >= 0 && got < sizeof bytes) {
      ssize_t n = read(fd, bytes + got, sizeof bytes - got);
      if (n <= 0) break;
      got += size_t(n);
    }
    if (fd >= 0) close(fd);
  }
  if (got < sizeof bytes) {
    // Without a secret the channel stays shut: no script gets window.external.
    return {};
  }
  std::string hex;
  for (unsigned char b : bytes) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02x", b);
    hex += buf;
  }
  return hex;
}

const std::string& Secret() {
  static const std::string secret = MakeSecret();
  return secret;
}

bool SameSecret(const std::u16string& given) {
  const std::string& secret = Secret();
  if (secret.empty() || given.size() != secret.size()) return false;
  unsigned diff = 0;
  for (size_t i = 0; i < secret.size(); ++i) diff |= unsigned(given[i]) ^ unsigned(static_cast<unsigned char>(secret[i]));
  return diff == 0;
}

// ---- JSON of the channel ----
// Only what the script writes: objects, arrays, strings, numbers, true/false/null, and
// at most a few levels deep. Strings decode to UTF-16 with \u escapes kept as they are
// (a lone surrogate too), which JSON libraries that work in UTF-8 cannot do.

struct JValue {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool b = false;
  double number = 0;
  std::u16string str;
  std::vector<JValue> items;
  std::vector<std::pair<std::u16string, JValue>> members;

  const JValue* Get(std::u16string_view key) const {
    if (kind != Object) return nullptr;
    for (auto& [k, v] : members)
      if (k == key) return &v;
    return nullptr;
  }
  const std::u16string* Str(std::u16string_view key) const {
    const JValue* v = Get(key);
    return v && v->kind == String ? &v->str : nullptr;
  }
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : s(text) {}

  bool Read(JValue& out) {
    if (!Value(out, 0)) return false;
    Blanks();
    return i == s.size();
  }

 private:
  static constexpr int kMaxDepth = 8;
  std::string_view s;
  size_t i = 0;

  void Blanks() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  }
  bool Literal(std::string_view word) {
    if (s.substr(i, word.size()) != word) return false;
    i += word.size();
    return true;
  }

  bool Value(JValue& out, int depth) {
    if (depth > kMaxDepth) return false;
    Blanks();
    if (i >= s.size()) return false;
    char c = s[i];
    if (c == '{') return ObjectValue(out, depth);
    if (c == '[') return ArrayValue(out, depth);
    if (c == '"') {
      out.kind = JValue::String;
      return StringValue(out.str);
    }
    if (c == 't' && Literal("true")) return out.kind = JValue::Bool, out.b = true, true;
    if (c == 'f' && Literal("false")) return out.kind = JValue::Bool, out.b = false, true;
    if (c == 'n' && Literal("null")) return out.kind = JValue::Null, true;
    return NumberValue(out);
  }

  bool ObjectValue(JValue& out, int depth) {
    out.kind = JValue::Object;
    ++i;
    Blanks();
    if (i < s.size() && s[i] == '}') return ++i, true;
    while (true) {
      Blanks();
      std::u16string key;
      if (i >= s.size() || s[i] != '"' || !StringValue(key)) return false;
      Blanks();
      if (i >= s.size() || s[i] != ':') return false;
      ++i;
      JValue v;
      if (!Value(v, depth + 1)) return false;
      out.members.emplace_back(std::move(key), std::move(v));
      Blanks();
      if (i < s.size() && s[i] == ',') {
        ++i;
        continue;
      }
      if (i < s.size() && s[i] == '}') return ++i, true;
      return false;
    }
  }

  bool ArrayValue(JValue& out, int depth) {
    out.kind = JValue::Array;
    ++i;
    Blanks();
    if (i < s.size() && s[i] == ']') return ++i, true;
    while (true) {
      JValue v;
      if (!Value(v, depth + 1)) return false;
      out.items.push_back(std::move(v));
      Blanks();
      if (i < s.size() && s[i] == ',') {
        ++i;
        continue;
      }
      if (i < s.size() && s[i] == ']') return ++i, true;
      return false;
    }
  }

  bool NumberValue(JValue& out) {
    size_t start = i;
    if (i < s.size() && s[i] == '-') ++i;
    size_t digits = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == digits) return false;
    if (i < s.size() && s[i] == '.') {
      size_t frac = ++i;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
      if (i == frac) return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
      ++i;
      if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
      size_t exp = i;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
      if (i == exp) return false;
    }
    out.kind = JValue::Number;
    out.number = g_ascii_strtod(std::string(s.substr(start, i - start)).c_str(), nullptr);
    return true;
  }

  static int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // UTF-8 in, UTF-16 out; bytes that are not UTF-8 become U+FFFD.
  bool StringValue(std::u16string& out) {
    ++i;
    while (i < s.size()) {
      auto c = static_cast<unsigned char>(s[i]);
      if (c == '"') return ++i, true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++i >= s.size()) return false;
        char e = s[i++];
        switch (e) {
          case '"': out += u'"'; break;
          case '\\': out += u'\\'; break;
          case '/': out += u'/'; break;
          case 'b': out += u'\b'; break;
          case 'f': out += u'\f'; break;
          case 'n': out += u'\n'; break;
          case 'r': out += u'\r'; break;
          case 't': out += u'\t'; break;
          case 'u': {
            if (i + 4 > s.size()) return false;
            int v = 0;
            for (int k = 0; k < 4; ++k) {
              int h = Hex(s[i + k]);
              if (h < 0) return false;
              v = v * 16 + h;
            }
            i += 4;
            out += char16_t(v);
            break;
          }
          default: return false;
        }
        continue;
      }
      if (c < 0x80) {
        out += char16_t(c);
        ++i;
        continue;
      }
      int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
      char32_t cp = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : c & 0x1F;
      size_t k = 1;
      for (; extra > 0 && k <= size_t(extra) && i + k < s.size(); ++k) {
        auto t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) break;
        cp = (cp << 6) | (t & 0x3F);
      }
      bool good = extra > 0 && k == size_t(extra) + 1 && !(extra == 2 && cp < 0x800) &&
                  !(extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) && !(cp >= 0xD800 && cp <= 0xDFFF);
      if (!good) {
        out += u'\uFFFD';
        i += std::max<size_t>(k, 1);
        continue;
      }
      i += k;
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out += char16_t(0xD800 + (cp >> 10));
        out += char16_t(0xDC00 + (cp & 0x3FF));
      } else {
        out += char16_t(cp);
      }
    }
    return false;
  }
};

// UTF-16 to a JSON string in UTF-8; lone surrogates as \u escapes, so they survive.
void WriteString(std::string& out, const std::u16string& w) {
  out += '"';
  for (size_t k = 0; k < w.size(); ++k) {
    char16_t c = w[k];
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(c));
      out += buf;
    } else if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c >= 0xD800 && c <= 0xDBFF && k + 1 < w.size() && w[k + 1] >= 0xDC00 && w[k + 1] <= 0xDFFF) {
      char32_t cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(w[k + 1]) - 0xDC00);
      ++k;
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(c));
      out += buf;
    } else {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  out += '"';
}

void WriteString(std::string& out, std::string_view ascii) {
  std::u16string w(ascii.begin(), ascii.end());
  WriteString(out, w);
}

std::string Failure(HRESULT hr, const std::u16string& message) {
  std::string out = "{\"ok\":0,\"hr\":" + std::to_string(hr) + ",\"message\":";
  WriteString(out, message);
  return out + "}";
}

std::string Refusal(const char* why) {
  std::string out = "{\"ok\":0,\"message\":";
  WriteString(out, std::string("window.external refused the call: ") + why);
  return out + "}";
}

// The text a script sees for a failing status of the dispatcher.
std::u16string StatusText(HRESULT hr) {
  const char* name = hr == DISP_E_MEMBERNOTFOUND  ? "DISP_E_MEMBERNOTFOUND"
                     : hr == DISP_E_UNKNOWNNAME   ? "DISP_E_UNKNOWNNAME"
                     : hr == DISP_E_BADPARAMCOUNT ? "DISP_E_BADPARAMCOUNT"
                     : hr == DISP_E_BADINDEX      ? "DISP_E_BADINDEX"
                     : hr == DISP_E_EXCEPTION     ? "DISP_E_EXCEPTION"
                     : hr == E_UNEXPECTED         ? "E_UNEXPECTED"
                                                  : nullptr;
  char buf[64];
  if (name) {
    std::snprintf(buf, sizeof buf, "%s (0x%08X)", name, unsigned(hr));
  } else {
    std::snprintf(buf, sizeof buf, "0x%08X", unsigned(hr));
  }
  return std::u16string(buf, buf + std::strlen(buf));
}

bool ToVariant(const JValue& tagged, Variant& out) {
  const std::u16string* t = tagged.Str(u"t");
  const JValue* v = tagged.Get(u"v");
  if (!t || t->size() != 1) return false;
  switch ((*t)[0]) {
    case u'e': out = Variant(); return true;
    case u'n': out = Variant::Null(); return true;
    case u'b':
      if (!v || v->kind != JValue::Bool) return false;
      out = Variant::Bool(v->b);
      return true;
    case u'i':
      if (!v || v->kind != JValue::Number || v->number != std::trunc(v->number) || v->number < -2147483648.0 ||
          v->number > 2147483647.0)
        return false;
      out = Variant::Int(int32_t(v->number));
      return true;
    case u'd': {
      // The script's own text of the number, NaN and Infinity included.
      if (!v || v->kind != JValue::String) return false;
      std::string text(v->str.begin(), v->str.end());
      for (char16_t c : v->str)
        if (c > 0x7F) return false;
      char* end = nullptr;
      double d = g_ascii_strtod(text.c_str(), &end);
      if (text.empty() || *end) return false;
      out = Variant::Dbl(d);
      return true;
    }
    case u's':
      if (!v || v->kind != JValue::String) return false;
      out = Variant::Str(v->str);
      return true;
    case u'o':
      if (v && v->kind != JValue::String) return false;
      out = Variant::Object(v ? std::make_shared<const Variant>(Variant::Str(v->str)) : nullptr);
      return true;
  }
  return false;
}

std::string Success(const Variant& result) {
  std::string out = "{\"ok\":1";
  switch (result.Type()) {
    case varNull: out += ",\"v\":null"; break;
    case varBoolean: out += result.AsBoolRaw() ? ",\"v\":true" : ",\"v\":false"; break;
    case varOleStr:
      out += ",\"v\":";
      WriteString(out, result.AsStrRaw());
      break;
    case varDouble:
    case varSingle: {
      // JSON has no NaN or Infinity: numbers go as text.
      char buf[40];
      g_ascii_formatd(buf, sizeof buf, "%.17g", result.AsDoubleRaw());
      out += ",\"d\":\"" + std::string(buf) + "\"";
      break;
    }
    default:
      if (result.Type() == varInteger || result.Type() == varSmallint || result.Type() == varShortInt ||
          result.Type() == varByte)
        out += ",\"v\":" + std::to_string(result.AsIntRaw());
      break;  // nothing, or an object: the script sees undefined
  }
  return out + "}";
}

using EventHandler = std::function<void(const AnsiString&, const std::shared_ptr<THtmlNode>&,
                                        const std::shared_ptr<THtmlNode>&)>;

std::string AnswerEvent(const JValue& call, const EventHandler& OnDocumentEvent) {
  const std::u16string* name = call.Str(u"name");
  const JValue* nodes = call.Get(u"nodes");
  const JValue* target = call.Get(u"target");
  if (!name || !nodes || nodes->kind != JValue::Array || !target || target->kind != JValue::Number)
    return Refusal("not an event");
  // Each node names its parent by an earlier place in the list.
  auto root = THtmlNode::Make("#document");
  std::vector<std::shared_ptr<THtmlNode>> built;
  for (auto& n : nodes->items) {
    auto text = [&](const char16_t* key) {
      const std::u16string* v = n.Str(key);
      return v ? WideToUtf8(*v) : std::string();
    };
    const JValue* parent = n.Get(u"p");
    const JValue* checked = n.Get(u"c");
    if (!parent || parent->kind != JValue::Number) return Refusal("not an event");
    THtmlNode::Attributes attrs{{"name", text(u"n")}, {"id", text(u"i")}, {"type", text(u"y")}, {"value", text(u"v")}};
    if (checked && checked->kind == JValue::Bool && checked->b) attrs["checked"] = "true";
    auto node = THtmlNode::Make(text(u"g"), attrs);
    int p = int(parent->number);
    auto& owner = p >= 0 && p < int(built.size()) ? built[size_t(p)] : root;
    node->Parent = owner;
    owner->Children.push_back(node);
    built.push_back(node);
  }
  int t = int(target->number);
  std::vector<int> submits;
  root->OnSubmit = [&](THtmlNode& form) {
    for (size_t k = 0; k < built.size(); ++k)
      if (built[k].get() == &form) submits.push_back(int(k));
  };
  if (OnDocumentEvent)
    OnDocumentEvent(WideToAnsi(*name), root, t >= 0 && t < int(built.size()) ? built[size_t(t)] : nullptr);
  std::string out = "{\"ok\":1,\"submit\":[";
  for (size_t k = 0; k < submits.size(); ++k) out += (k ? "," : "") + std::to_string(submits[k]);
  return out + "]}";
}

}  // namespace

GtkBridge::GtkBridge(WebKitWebView* view, WebKitUserContentManager* content, IBrowserEvents& events)
    : FView(view), FEvents(events) {
  if (Secret().empty()) return;
  std::string source = kScriptTemplate;
  auto put = [&](std::string_view slot, std::string_view value) {
    source.replace(source.find(slot), slot.size(), value);
  };
  put("@SECRET@", Secret());
  put("@MARKER@", kMarker);
  WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
  g_signal_connect(view, "script-dialog", G_CALLBACK(OnScriptDialog), this);
}

GtkBridge::~GtkBridge() { g_signal_handlers_disconnect_by_data(FView, this); }

gboolean GtkBridge::OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, GtkBridge* self) {
  if (webkit_script_dialog_get_dialog_type(dialog) != WEBKIT_SCRIPT_DIALOG_PROMPT) return FALSE;
  const char* message = webkit_script_dialog_get_message(dialog);
  if (!message || std::strcmp(message, kMarker) != 0) return FALSE;
  const char* payload = webkit_script_dialog_prompt_get_default_text(dialog);
  // Never evaluate script in the page from here on: it waits for this answer.
  ++self->FDepth;
  std::string answer = self->Answer(payload ? payload : "");
  --self->FDepth;
  webkit_script_dialog_prompt_set_text(dialog, answer.c_str());
  return TRUE;
}

std::string GtkBridge::Answer(std::string_view payload) {
  try {
    JValue call;
    if (!JsonReader(payload).Read(call) || call.kind != JValue::Object) return Refusal("not a call");
    const std::u16string* token = call.Str(u"token");
    if (!token || !SameSecret(*token)) return Refusal("not a call");
    const std::u16string* origin = call.Str(u"origin");
    const std::u16string* kind = call.Str(u"kind");
    if (!origin || !kind) return Refusal("not a call");

    // An origin the code page cannot hold is nobody's: a "?" in its place could match another.
    AnsiString ansiOrigin = WideToAnsi(*origin);
    if (AnsiToWide(ansiOrigin) != *origin) return Refusal("origin");
    std::shared_ptr<IAutoDispatch> object = FEvents.GetExternal(ansiOrigin);
    if (!object) return Refusal("origin");

    if (*kind == u"event") return AnswerEvent(call, OnDocumentEvent);

    if (*kind == u"hello") {
      std::string out = "{\"ok\":1,\"members\":[";
      bool first = true;
      for (auto& m : object->DispTypeInfo().Members) {
        out += first ? "[" : ",[";
        first = false;
        WriteString(out, std::string_view(m.Name));
        out += m.Kind == TMemberKind::Method ? ",\"method\"]" : ",\"property\"]";
      }
      return out + "]}";
    }

    uint16_t flags = *kind == u"call" ? DISPATCH_METHOD
                     : *kind == u"get" ? DISPATCH_PROPERTYGET
                     : *kind == u"put" ? DISPATCH_PROPERTYPUT
                                       : 0;
    const std::u16string* name = call.Str(u"name");
    const JValue* args = call.Get(u"args");
    if (!flags || !name || !args || args->kind != JValue::Array) return Refusal("not a call");
    std::vector<Variant> values(args->items.size());
    for (size_t k = 0; k < values.size(); ++k)
      if (!ToVariant(args->items[k], values[k])) return Refusal("argument");

    DISPID id;
    HRESULT hr = GetIDsOfNames(*object, *name, id);
    if (Failed(hr)) return Failure(hr, StatusText(hr));
    Variant result;
    TExcepInfo info;
    hr = Invoke(*object, id, flags, values, &result, &info);
    if (hr == DISP_E_EXCEPTION) return Failure(info.SCode ? info.SCode : hr, info.Description);
    if (Failed(hr)) return Failure(hr, StatusText(hr));
    return Success(result);
  } catch (const std::exception& e) {
    // Out of memory on a huge argument, a failing conversion of the names: the page
    // gets an error, the program goes on.
    return Refusal(e.what());
  } catch (...) {
    return Refusal("failure");
  }
}
