// window.external on WebKitGTK. WebKit has no host object for pages, so a user script
// (every frame, document start) defines one: a Proxy whose members make one synchronous
// round trip each through prompt(), answered here in the web view's script-dialog signal
// by the object that IBrowserEvents::GetExternal hands out for the document's origin.
//
// The program cannot tell which frame called prompt(): the script keeps a secret of the
// run (and the pristine prompt, JSON, Reflect ...) in its closure and names its own
// document's origin, so calls forged by page script are refused.
//
// Strings travel as UTF-16: the script escapes lone surrogates, and they arrive in the
// Variant as they were (and go back the same way); what a member then makes of them
// in the code page is the member's own conversion.
#pragma once

#include "../HtmlSnapshot.h"
#include "../Widgetset.h"

#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class GtkBridge {
 public:
  GtkBridge(WebKitWebView* view, WebKitUserContentManager* content, IBrowserEvents& events);
  ~GtkBridge();
  GtkBridge(const GtkBridge&) = delete;
  GtkBridge& operator=(const GtkBridge&) = delete;

  // True while a call is being answered: the page waits in prompt() and cannot run
  // anything the program asks of it until the answer has gone back.
  bool Answering() const { return FDepth > 0; }

  // The answer (JSON) to one payload of the channel: the text prompt() returns.
  // Never throws; anything that is not a well-formed call with the run's secret is refused.
  std::string Answer(std::string_view payload);

  // A click, key press or selection in the top-level document, with the page's elements
  // as they stand (root) and the one it happened on. The page waits meanwhile; forms
  // the handler submits are submitted by the page once it has its answer. A failure
  // goes back to the page as the failure of its event.
  std::function<void(const AnsiString& name, const std::shared_ptr<THtmlNode>& root,
                     const std::shared_ptr<THtmlNode>& target)>
      OnDocumentEvent;

 private:
  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, GtkBridge* self);

  WebKitWebView* FView;
  IBrowserEvents& FEvents;
  int FDepth = 0;
};
