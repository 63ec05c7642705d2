// The desktop program's main(): GTK and WebKitGTK as the widgetset.
#include "GtkWidgetset.h"
#include "ProgramEntry.h"

#include <cstdio>

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "lumetra: cannot open the display (is DISPLAY set?)\n");
    return 1;
  }
  TGtkWidgetset widgetset;
  UseWidgetset(&widgetset);
  widgetset.JoinSession();
  return LumetraMain(argc, argv);
}
