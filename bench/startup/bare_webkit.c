/* The reference for the start-up benchmark: the least a GTK program needs to show a
 * page in WebKitGTK, so that what the program adds on top can be measured.
 *
 * Usage: bare_webkit URL [EVENTS_FILE]
 * Prints "loaded URI" when the top-level load finishes and, given EVENTS_FILE, appends
 * the same JSON lines as the program's test hook, so one driver reads both. Stays open
 * until killed. */
#include <gtk/gtk.h>
#include <stdio.h>
#include <webkit2/webkit2.h>

static const char* events_path;

static void emit(const char* event, const char* uri) {
  if (!events_path) return;
  FILE* f = fopen(events_path, "a");
  if (!f) return;
  /* Only URLs of our own server come here, with nothing in them to escape. */
  if (uri)
    fprintf(f, "{\"event\":\"%s\",\"uri\":\"%s\"}\n", event, uri);
  else
    fprintf(f, "{\"event\":\"%s\"}\n", event);
  fclose(f);
}

static void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  (void)data;
  if (event != WEBKIT_LOAD_FINISHED) return;
  const char* uri = webkit_web_view_get_uri(view);
  emit("loaded", uri);
  printf("loaded %s\n", uri ? uri : "");
  fflush(stdout);
}

static void on_map(GtkWidget* widget, gpointer data) {
  (void)widget;
  (void)data;
  emit("shown", NULL);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s URL [EVENTS_FILE]\n", argv[0]);
    return 2;
  }
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "bare_webkit: cannot open the display\n");
    return 1;
  }
  events_path = argc > 2 ? argv[2] : NULL;

  /* Browsing data in folders of its own, as the program keeps it. */
  gchar* data = g_build_filename(g_get_user_data_dir(), "bare_webkit", "webdata", NULL);
  gchar* cache = g_build_filename(g_get_user_cache_dir(), "bare_webkit", "webcache", NULL);
  WebKitWebsiteDataManager* manager =
      webkit_website_data_manager_new("base-data-directory", data, "base-cache-directory", cache, NULL);
  WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(manager);
  g_object_unref(manager);
  g_free(data);
  g_free(cache);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 450, 300);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  g_signal_connect(window, "map", G_CALLBACK(on_map), NULL);

  GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, NULL));
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), NULL);
  gtk_container_add(GTK_CONTAINER(window), view);

  emit("navigate", argv[1]);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_widget_show_all(window);
  gtk_main();
  g_object_unref(context);
  return 0;
}
