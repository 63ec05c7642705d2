// The desktop program's main(): GTK and WebKitGTK as the widgetset.
#include "../Forms.h"
#include "GtkWidgetset.h"
#include "ProgramEntry.h"

#include <cstdio>

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) {
    // Registering needs no display, and there is nothing to register here.
    if (TApplication::RegisterSwitch(argc, argv)) return 0;
    std::fprintf(stderr, "lumetra: cannot open the display (is DISPLAY set?)\n");
    return 1;
  }
  TGtkWidgetset widgetset;
  UseWidgetset(&widgetset);
  widgetset.JoinSession();
  return LumetraMain(argc, argv);
}
