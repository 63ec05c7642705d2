// Peers of the framework's controls on GTK. Every peer owns one widget; containers
// know how to place their children by alignment (boxes) or by bounds (fixed).
#pragma once

#include "../Widgetset.h"

#include <gtk/gtk.h>

#include <optional>
#include <string>

class GtkPeer {
 public:
  explicit GtkPeer(GtkWidget* widget);
  virtual ~GtkPeer();
  GtkWidget* Widget() const { return FWidget; }
  virtual void AddChild(GtkPeer& child, TAlign align, TRect bounds);
  virtual void MoveChild(GtkPeer& child, TAlign align, TRect bounds);

  // Shared bodies of IControlBackend for peers inside a window.
  void DoSetParent(IControlBackend* parent, TAlign align);
  void DoSetBounds(TRect bounds);
  void DoSetVisible(bool visible) { gtk_widget_set_visible(FWidget, visible); }

 protected:
  GtkWidget* FWidget;
  GtkPeer* FParent = nullptr;
  TAlign FAlign = alNone;
  TRect FBounds;
};

GtkPeer* PeerOf(IControlBackend* backend);

typedef struct _WebKitWebView WebKitWebView;
// Runs a script in the view's top-level document and waits, however long it takes,
// for its result as text; nullopt when it could not run. Never while the page waits
// for the program.
std::optional<std::string> EvaluateInPage(WebKitWebView* view, const std::string& script);
// The global functions of the page in the view's top-level document.
std::shared_ptr<IScriptDispatch> MakePageScript(WebKitWebView* view);
