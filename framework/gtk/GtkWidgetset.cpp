#include "GtkWidgetset.h"

#include "../Dialogs.h"
#include "../Forms.h"
#include "GtkPeers.h"
#include "TestEvents.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <glib/gstdio.h>

#include "../UrlHistory.h"

// ---- peers in general ----

GtkPeer::GtkPeer(GtkWidget* widget) : FWidget(widget) { g_object_ref_sink(FWidget); }

GtkPeer::~GtkPeer() {
  if (GTK_IS_WINDOW(FWidget)) gtk_widget_destroy(FWidget);
  g_object_unref(FWidget);
}

void GtkPeer::AddChild(GtkPeer& child, TAlign align, TRect) {
  // Boxes lay out by alignment; a child without one is kept aside, unshown.
  if (align == alNone) return;
  GtkBox* box = GTK_BOX(FWidget);
  if (align == alBottom) {
    gtk_box_pack_end(box, child.Widget(), FALSE, FALSE, 0);
  } else {
    gtk_box_pack_start(box, child.Widget(), align == alClient, align == alClient, 0);
  }
}

void GtkPeer::MoveChild(GtkPeer& child, TAlign align, TRect bounds) {
  if (align == alTop || align == alBottom) gtk_widget_set_size_request(child.Widget(), -1, bounds.Height);
}

void GtkPeer::DoSetParent(IControlBackend* parent, TAlign align) {
  if (GtkWidget* old = gtk_widget_get_parent(FWidget)) gtk_container_remove(GTK_CONTAINER(old), FWidget);
  FParent = PeerOf(parent);
  FAlign = align;
  if (FParent) FParent->AddChild(*this, align, FBounds);
}

void GtkPeer::DoSetBounds(TRect bounds) {
  FBounds = bounds;
  if (FParent) FParent->MoveChild(*this, FAlign, bounds);
}

GtkPeer* PeerOf(IControlBackend* backend) { return dynamic_cast<GtkPeer*>(backend); }

namespace {

#define PEER_BASICS                                                                   \
  void SetParent(IControlBackend* parent, TAlign align) override { DoSetParent(parent, align); } \
  void SetBounds(TRect bounds) override { DoSetBounds(bounds); }                     \
  void SetVisible(bool visible) override { DoSetVisible(visible); }

struct PanelPeer : GtkPeer, IControlBackend {
  PanelPeer() : GtkPeer(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0)) {}
  PEER_BASICS
};

// Panels of fixed widths laid side by side; children (the progress bar) by bounds.
struct StatusBarPeer : GtkPeer, IStatusBarBackend {
  StatusBarPeer() : GtkPeer(gtk_fixed_new()) { gtk_widget_set_name(FWidget, "statusbar"); }
  PEER_BASICS
  std::vector<GtkWidget*> Labels;
  void SetPanels(const std::vector<int>& widths) override {
    for (auto* l : Labels) gtk_widget_destroy(l);
    Labels.clear();
    int x = 0;
    for (int w : widths) {
      GtkWidget* label = gtk_label_new("");
      gtk_label_set_xalign(GTK_LABEL(label), 0);
      gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
      gtk_widget_set_margin_start(label, 3);
      gtk_widget_set_size_request(label, std::max(0, w - 3), -1);
      gtk_fixed_put(GTK_FIXED(FWidget), label, x, 1);
      gtk_widget_set_visible(label, w > 0);
      Labels.push_back(label);
      x += w;
    }
  }
  void SetPanelText(int index, const AnsiString& text) override {
    if (index >= 0 && index < static_cast<int>(Labels.size()))
      gtk_label_set_text(GTK_LABEL(Labels[static_cast<size_t>(index)]), AnsiToUtf8(text).c_str());
  }
  void AddChild(GtkPeer& child, TAlign, TRect bounds) override {
    gtk_fixed_put(GTK_FIXED(FWidget), child.Widget(), bounds.Left, bounds.Top);
    gtk_widget_set_size_request(child.Widget(), bounds.Width, bounds.Height);
  }
  void MoveChild(GtkPeer& child, TAlign, TRect bounds) override {
    gtk_fixed_move(GTK_FIXED(FWidget), child.Widget(), bounds.Left, bounds.Top);
    gtk_widget_set_size_request(child.Widget(), bounds.Width, bounds.Height);
  }
};

struct ProgressBarPeer : GtkPeer, IProgressBarBackend {
  ProgressBarPeer() : GtkPeer(gtk_progress_bar_new()) {
    // The theme's thin bar would leave most of the status bar's slot empty.
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, "progressbar trough, progressbar progress { min-height: 13px; }", -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(FWidget), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
  }
  PEER_BASICS
  int Min = 0, Max = 100;
  void SetRange(int min, int max) override { Min = min, Max = max; }
  void SetPosition(int position) override {
    double span = Max > Min ? double(Max - Min) : 1.0;
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(FWidget), std::clamp((position - Min) / span, 0.0, 1.0));
  }
};

// A top-level window. Bounds are outer bounds (frame included): the window manager's
// frame is measured once the window is mapped and the client area sized to fit.
struct FormPeer : GtkPeer, IFormBackend {
  FormPeer(IFormEvents& events) : GtkPeer(gtk_window_new(GTK_WINDOW_TOPLEVEL)), Events(events) {
    Box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(FWidget), Box);
    gtk_widget_show(Box);
    // Positions name the client area: the frame's size is added by us once measured,
    // which window managers agree on better than on where a frame's corner goes.
    gtk_window_set_gravity(GTK_WINDOW(FWidget), GDK_GRAVITY_STATIC);
    g_signal_connect(FWidget, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(FWidget, "configure-event", G_CALLBACK(OnConfigure), this);
    g_signal_connect(FWidget, "window-state-event", G_CALLBACK(OnWindowState), this);
    g_signal_connect(FWidget, "map-event", G_CALLBACK(OnMap), this);
  }

  IFormEvents& Events;
  GtkWidget* Box;
  TRect Outer{0, 0, 800, 600};
  TFormBorderStyle Style = bsSizeable;
  TWindowState State = wsNormal;
  GtkBorder Frame{0, 0, 0, 0};  // left, right, top, bottom of the frame, once known
  bool FrameKnown = false, Mapped = false, Applying = false;

  void AddChild(GtkPeer& child, TAlign align, TRect bounds) override {
    GtkWidget* saved = FWidget;
    FWidget = Box;
    GtkPeer::AddChild(child, align, bounds);
    FWidget = saved;
  }

  void SetParent(IControlBackend*, TAlign) override {}
  void SetBounds(TRect bounds) override {
    Outer = bounds;
    ApplyBounds();
  }
  void SetVisible(bool visible) override {
    if (visible) {
      ApplyStyle();
      ApplyBounds();
      gtk_widget_show(FWidget);
      ApplyState();
    } else {
      gtk_widget_hide(FWidget);
      Mapped = false;
    }
  }
  void SetCaption(const AnsiString& caption) override {
    std::string utf8 = AnsiToUtf8(caption);
    gtk_window_set_title(GTK_WINDOW(FWidget), utf8.c_str());
    testevents::Emit("caption", {{"text", utf8}});
  }
  void SetBorderStyle(TFormBorderStyle style) override {
    if (style != Style)
      testevents::Emit("layout", {{"name", style == bsDialog ? "dialog" : style == bsSizeable ? "main" : "other"}});
    Style = style;
    // The window manager reads a window's type and functions when it is mapped:
    // a visible window is mapped anew, as the style's re-creation of the window.
    bool visible = gtk_widget_get_visible(FWidget);
    if (visible) {
      gtk_widget_hide(FWidget);
      Mapped = false;
    }
    ApplyStyle();
    if (visible) {
      ApplyBounds();
      gtk_widget_show(FWidget);
      ApplyState();
    }
  }
  void SetWindowState(TWindowState state) override {
    State = state;
    if (gtk_widget_get_visible(FWidget)) ApplyState();
  }
  void SetFocus() override { gtk_window_present(GTK_WINDOW(FWidget)); }

  bool Fixed() const { return Style != bsSizeable && Style != bsSizeToolWin; }

  void ApplyStyle() {
    GtkWindow* w = GTK_WINDOW(FWidget);
    bool tool = Style == bsToolWindow || Style == bsSizeToolWin;
    gtk_window_set_type_hint(w, Style == bsDialog ? GDK_WINDOW_TYPE_HINT_DIALOG
                                : tool            ? GDK_WINDOW_TYPE_HINT_UTILITY
                                                  : GDK_WINDOW_TYPE_HINT_NORMAL);
    gtk_window_set_decorated(w, Style != bsNone);
    // A fixed window offers neither minimise nor maximise, as a dialog border does;
    // the program may still maximise it.
    gtk_widget_realize(FWidget);
    if (GdkWindow* gw = gtk_widget_get_window(FWidget))
      gdk_window_set_functions(gw, (Style == bsDialog || Style == bsToolWindow) && State != wsMaximized
                                       ? GdkWMFunction(GDK_FUNC_MOVE | GDK_FUNC_CLOSE)
                                       : GDK_FUNC_ALL);
  }

  void ApplyBounds() {
    if (Applying) return;
    Applying = true;
    GtkWindow* w = GTK_WINDOW(FWidget);
    int cw = std::max(1, Outer.Width - Frame.left - Frame.right);
    int ch = std::max(1, Outer.Height - Frame.top - Frame.bottom);
    // A fixed border is a window whose smallest and largest sizes are the same;
    // GTK's own non-resizable windows would not shrink to a measured frame.
    if (Fixed() && State != wsMaximized) {
      GdkGeometry g{};
      g.min_width = g.max_width = cw;
      g.min_height = g.max_height = ch;
      gtk_window_set_geometry_hints(w, nullptr, &g, GdkWindowHints(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
    } else {
      gtk_window_set_geometry_hints(w, nullptr, nullptr, GdkWindowHints(0));
      // GTK hands hints to the window manager only at its next resize; a request to
      // maximise that follows at once must find the fixed size gone already.
      GdkGeometry none{};
      none.win_gravity = GDK_GRAVITY_STATIC;
      if (GdkWindow* gw = gtk_widget_get_window(FWidget))
        gdk_window_set_geometry_hints(gw, &none, GdkWindowHints(GDK_HINT_WIN_GRAVITY | GDK_HINT_USER_POS));
    }
    gtk_window_set_default_size(w, cw, ch);
    gtk_window_resize(w, cw, ch);
    gtk_window_move(w, Outer.Left + Frame.left, Outer.Top + Frame.top);
    Applying = false;
  }

  void ApplyState() {
    GtkWindow* w = GTK_WINDOW(FWidget);
    // A fixed size would keep the window manager from maximising the window.
    if (Fixed() && State == wsMaximized) {
      ApplyStyle();
      ApplyBounds();
    }
    switch (State) {
      case wsMaximized:
        gtk_window_deiconify(w);
        gtk_window_maximize(w);
        break;
      case wsMinimized:
        gtk_window_iconify(w);
        break;
      case wsNormal:
        gtk_window_unmaximize(w);
        gtk_window_deiconify(w);
        break;
    }
  }

  void MeasureFrame() {
    GdkWindow* gw = gtk_widget_get_window(FWidget);
    if (!gw) return;
    GdkRectangle frame;
    gdk_window_get_frame_extents(gw, &frame);
    int x, y;
    gdk_window_get_origin(gw, &x, &y);
    int cw = gdk_window_get_width(gw), ch = gdk_window_get_height(gw);
    GtkBorder f{gint16(x - frame.x), gint16(frame.x + frame.width - x - cw), gint16(y - frame.y),
                gint16(frame.y + frame.height - y - ch)};
    if (f.left < 0 || f.top < 0 || f.right < 0 || f.bottom < 0) return;
    bool changed = !FrameKnown || f.left != Frame.left || f.right != Frame.right || f.top != Frame.top ||
                   f.bottom != Frame.bottom;
    Frame = f;
    FrameKnown = true;
    if (changed && State == wsNormal) ApplyBounds();
  }

  static gboolean OnDelete(GtkWidget*, GdkEvent*, FormPeer* self) {
    self->Events.CloseRequested();
    return TRUE;  // the framework decides; the window goes when its form does
  }
  static gboolean OnMap(GtkWidget*, GdkEvent*, FormPeer* self) {
    bool first = !self->Mapped;
    self->Mapped = true;
    self->MeasureFrame();
    if (first) testevents::Emit("shown");
    return FALSE;
  }
  static gboolean OnConfigure(GtkWidget*, GdkEventConfigure*, FormPeer* self) {
    if (!self->Mapped) return FALSE;
    self->MeasureFrame();
    GdkWindow* gw = gtk_widget_get_window(self->FWidget);
    GdkRectangle frame;
    gdk_window_get_frame_extents(gw, &frame);
    self->Events.Moved({frame.x, frame.y, frame.width, frame.height});
    return FALSE;
  }
  static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* e, FormPeer* self) {
    TWindowState s = (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED)    ? wsMinimized
                     : (e->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) ? wsMaximized
                                                                           : wsNormal;
    if (e->changed_mask & (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED)) {
      bool wasMaximized = self->State == wsMaximized;
      self->State = s;
      self->Events.StateChanged(s);
      // Back from maximised, a fixed border is fixed again.
      if (wasMaximized && s != wsMaximized && self->Fixed()) {
        self->ApplyStyle();
        self->ApplyBounds();
      }
    }
    return FALSE;
  }
};

// "&x" underlines x, "&&" is one "&"; a lone "&" at the end shows nothing.
std::string AcceleratorMarkup(const std::string& text, bool plain = false) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) {
      ++i;
      if (text[i] == '&') {
        out += plain ? "&" : "&amp;";
        continue;
      }
      size_t len = 1;  // the whole UTF-8 character
      while (i + len < text.size() && (static_cast<unsigned char>(text[i + len]) & 0xC0) == 0x80) ++len;
      std::string ch = text.substr(i, len);
      gchar* esc = g_markup_escape_text(ch.c_str(), -1);
      out += plain ? ch : std::string("<u>") + esc + "</u>";
      g_free(esc);
      i += len - 1;
    } else if (text[i] != '&') {
      char c = text[i];
      out += plain ? std::string(1, c) : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    }
  }
  return out;
}
std::string AcceleratorText(const std::string& text) { return AcceleratorMarkup(text, true); }

GtkMessageType MessageType(unsigned flags) {
  switch (flags & mb::IconMask) {
    case mb::IconStop: return GTK_MESSAGE_ERROR;
    case mb::IconQuestion: return GTK_MESSAGE_QUESTION;
    case mb::IconWarning: return GTK_MESSAGE_WARNING;
    case mb::IconInformation: return GTK_MESSAGE_INFO;
    default: return GTK_MESSAGE_OTHER;
  }
}

const char* IconName(unsigned flags) {
  switch (flags & mb::IconMask) {
    case mb::IconStop: return "stop";
    case mb::IconQuestion: return "question";
    case mb::IconWarning: return "warning";
    case mb::IconInformation: return "information";
    default: return "none";
  }
}

}  // namespace

// ---- the widgetset ----

TGtkWidgetset::TGtkWidgetset() = default;

TGtkWidgetset::~TGtkWidgetset() {
  if (FApp) {
    if (GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(FApp))) {
      if (FEndSignal) g_dbus_connection_signal_unsubscribe(bus, FEndSignal);
      if (FStopSignal) g_dbus_connection_signal_unsubscribe(bus, FStopSignal);
    }
    g_object_unref(FApp);
  }
  if (FWebContext) g_object_unref(FWebContext);
  if (FSkin) g_object_unref(FSkin);
}

int TGtkWidgetset::MessageBox(const MessageBoxRequest& request) {
  unsigned buttons = request.Flags & mb::ButtonsMask;
  GtkWindow* owner = nullptr;
  if (request.Owner) {
    auto* peer = dynamic_cast<FormPeer*>(static_cast<IFormBackend*>(request.Owner->Peer()));
    if (peer && gtk_widget_get_visible(peer->Widget())) owner = GTK_WINDOW(peer->Widget());
  }
  std::string text = AnsiToUtf8(request.Text), caption = AnsiToUtf8(request.Caption);
  GtkWidget* dialog = gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, MessageType(request.Flags),
                                             buttons == mb::YesNo      ? GTK_BUTTONS_YES_NO
                                             : buttons == mb::OKCancel ? GTK_BUTTONS_OK_CANCEL
                                                                       : GTK_BUTTONS_OK,
                                             "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  if (request.Flags & mb::Accelerators) {
    gtk_message_dialog_set_markup(GTK_MESSAGE_DIALOG(dialog), AcceleratorMarkup(text).c_str());
    text = AcceleratorText(text);
  }
  gtk_window_set_position(GTK_WINDOW(dialog), owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  testevents::Emit("messagebox", {{"caption", caption},
                                  {"text", text},
                                  {"icon", IconName(request.Flags)},
                                  {"buttons", buttons == mb::YesNo ? "yesno" : buttons == mb::OKCancel ? "okcancel" : "ok"}});
  FOpenBoxes.push_back(dialog);
  int response = gtk_dialog_run(GTK_DIALOG(dialog));
  std::erase(FOpenBoxes, dialog);
  gtk_widget_destroy(dialog);
  switch (response) {
    case GTK_RESPONSE_YES: return mr::Yes;
    case GTK_RESPONSE_NO: return mr::No;
    case GTK_RESPONSE_OK: return mr::OK;
    default: return buttons == mb::YesNo ? mr::No : buttons == mb::OK ? mr::OK : mr::Cancel;
  }
}

std::unique_ptr<IFormBackend> TGtkWidgetset::CreateForm(TForm&, IFormEvents& events) {
  return std::make_unique<FormPeer>(events);
}
std::unique_ptr<IControlBackend> TGtkWidgetset::CreatePanel(TPanel&) { return std::make_unique<PanelPeer>(); }
std::unique_ptr<IStatusBarBackend> TGtkWidgetset::CreateStatusBar(TStatusBar&) {
  return std::make_unique<StatusBarPeer>();
}
std::unique_ptr<IProgressBarBackend> TGtkWidgetset::CreateProgressBar(TProgressBar&) {
  return std::make_unique<ProgressBarPeer>();
}

void TGtkWidgetset::RunMessageLoop() {
  if (FQuitRequested) {
    FQuitRequested = false;
    return;
  }
  if (FApp && !FInSessionLoop) {
    // The application's own loop, so that the session's end reaches us.
    FInSessionLoop = true;
    FQuitByProgram = false;
    g_application_run(G_APPLICATION(FApp), 0, nullptr);
    FInSessionLoop = false;
    if (!FQuitByProgram) {
      testevents::Emit("sessionend");
      Application->EndSession();
    }
    return;
  }
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  GMainLoop* outer = FMainLoop;
  FMainLoop = loop;
  g_main_loop_run(loop);
  FMainLoop = outer;
  g_main_loop_unref(loop);
}

void TGtkWidgetset::QuitMessageLoop() {
  if (FMainLoop) {
    g_main_loop_quit(FMainLoop);
  } else if (FInSessionLoop) {
    FQuitByProgram = true;
    g_application_quit(G_APPLICATION(FApp));
  } else {
    FQuitRequested = true;
  }
}

void TGtkWidgetset::JoinSession() {
  GtkApplication* app = gtk_application_new("example.drevant.Lumetra", G_APPLICATION_NON_UNIQUE);
  g_object_set(app, "register-session", TRUE, nullptr);
  g_signal_connect(app, "activate", G_CALLBACK(+[](GApplication*, gpointer) {}), nullptr);
  g_signal_connect(app, "query-end", G_CALLBACK(OnQueryEnd), this);
  GError* error = nullptr;
  // Without a session bus there is no session to join: the program runs as it is.
  if (!g_application_register(G_APPLICATION(app), nullptr, &error)) {
    g_clear_error(&error);
    g_object_unref(app);
    return;
  }
  g_application_hold(G_APPLICATION(app));
  FApp = app;
  // When the session ends, a message box still open would keep its own loop going
  // on a desktop that is gone: it is closed as if the user had dismissed it.
  if (GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(app))) {
    auto onEnd = +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                     gpointer self) { static_cast<TGtkWidgetset*>(self)->CloseOpenBoxes(); };
    FEndSignal = g_dbus_connection_signal_subscribe(bus, nullptr, "org.gnome.SessionManager.ClientPrivate",
                                                    "EndSession", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                    onEnd, this, nullptr);
    FStopSignal = g_dbus_connection_signal_subscribe(bus, nullptr, "org.gnome.SessionManager.ClientPrivate", "Stop",
                                                     nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onEnd, this, nullptr);
  }
}

void TGtkWidgetset::CloseOpenBoxes() {
  for (GtkWidget* box : std::vector<GtkWidget*>(FOpenBoxes)) gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_DELETE_EVENT);
}

// The session asks whether it may end: the same question as the user's close, and
// while the page says no, the end is held off.
void TGtkWidgetset::OnQueryEnd(GtkApplication* app, TGtkWidgetset* self) {
  if (self->FInhibit) {
    gtk_application_uninhibit(app, self->FInhibit);
    self->FInhibit = 0;
  }
  TForm* main = Application->MainForm;
  auto* peer = main ? dynamic_cast<FormPeer*>(static_cast<IFormBackend*>(main->Peer())) : nullptr;
  bool mayEnd = !peer || peer->Events.QueryEndSession();
  testevents::Emit("queryend", {{"answer", mayEnd ? "yes" : "no"}});
  if (!mayEnd)
    self->FInhibit = gtk_application_inhibit(app, GTK_WINDOW(peer->Widget()), GTK_APPLICATION_INHIBIT_LOGOUT,
                                             AnsiToUtf8(Ansi(u8"当前页面不允许关闭程序")).c_str());
}

void TGtkWidgetset::ProcessMessagesUntil(const std::function<bool()>& done) {
  while (!done()) g_main_context_iteration(nullptr, TRUE);
}

TRect TGtkWidgetset::VirtualScreen() {
  GdkDisplay* display = gdk_display_get_default();
  GdkRectangle all{0, 0, 0, 0};
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkRectangle r;
    gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &r);
    gdk_rectangle_union(&all, &r, &all);
  }
  return {all.x, all.y, all.width, all.height};
}

TRect TGtkWidgetset::PrimaryScreen() {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* m = gdk_display_get_primary_monitor(display);
  if (!m) m = gdk_display_get_monitor(display, 0);
  GdkRectangle r{0, 0, 0, 0};
  if (m) gdk_monitor_get_geometry(m, &r);
  return {r.x, r.y, r.width, r.height};
}

bool TGtkWidgetset::ApplySkin(const AnsiString& fileName) {
  GtkCssProvider* css = gtk_css_provider_new();
  GError* error = nullptr;
  // A broken skin keeps the built-in look, without a word to the user.
  if (!gtk_css_provider_load_from_path(css, AnsiToUtf8(fileName).c_str(), &error)) {
    g_clear_error(&error);
    g_object_unref(css);
    return false;
  }
  if (FSkin) gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(FSkin));
  if (FSkin) g_object_unref(FSkin);
  FSkin = css;
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_USER);
  return true;
}

TRect TGtkWidgetset::DefaultPlacement(TRect current, bool defaultSize) {
  // As a window manager places a new window: near the top left of the work area, and
  // a sizeable one at three quarters of the screen.
  TRect screen = PrimaryScreen();
  TRect r{screen.Left + 48, screen.Top + 48, current.Width, current.Height};
  if (defaultSize) r.Width = screen.Width * 3 / 4, r.Height = screen.Height * 3 / 4;
  return r;
}

std::string TGtkWidgetset::HistoryPath() {
  gchar* path = g_build_filename(g_get_user_data_dir(), "lumetra", "history", nullptr);
  std::string out = path;
  g_free(path);
  return out;
}

void TGtkWidgetset::RecordVisit(const std::string& uri) {
  std::string path = HistoryPath();
  gchar* dir = g_path_get_dirname(path.c_str());
  g_mkdir_with_parents(dir, 0700);
  g_free(dir);
  if (FILE* f = g_fopen(path.c_str(), "a")) {
    std::fprintf(f, "%lld\t%s\n", static_cast<long long>(std::time(nullptr)), uri.c_str());
    std::fclose(f);
  }
}

void TGtkWidgetset::ClearUrlHistory() {
  g_remove(HistoryPath().c_str());
  testevents::Emit("historycleared");
}

void TGtkWidgetset::ClearCache(unsigned entryKinds) {
  unsigned types = 0;
  if (entryKinds & (cacheentry::Normal | cacheentry::Sticky | cacheentry::TrackOffline | cacheentry::TrackOnline))
    types |= WEBKIT_WEBSITE_DATA_MEMORY_CACHE | WEBKIT_WEBSITE_DATA_DISK_CACHE |
             WEBKIT_WEBSITE_DATA_OFFLINE_APPLICATION_CACHE | WEBKIT_WEBSITE_DATA_DOM_CACHE;
  if (entryKinds & cacheentry::Cookie) types |= WEBKIT_WEBSITE_DATA_COOKIES;
  if (entryKinds & cacheentry::UrlHistory) ClearUrlHistory();
  // Not waited for: the page that asked is waiting for this call to return.
  if (types)
    webkit_website_data_manager_clear(webkit_web_context_get_website_data_manager(WebContext()),
                                      WebKitWebsiteDataTypes(types), 0, nullptr,
                                      [](GObject*, GAsyncResult*, gpointer) { testevents::Emit("cachecleared"); },
                                      nullptr);
}
