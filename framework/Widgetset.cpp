#include "Widgetset.h"

#include <cstdlib>

static IWidgetset* current = nullptr;

IWidgetset& Widgetset() {
  if (!current) std::abort();  // main() picks one before anything is shown
  return *current;
}

void UseWidgetset(IWidgetset* widgetset) { current = widgetset; }
