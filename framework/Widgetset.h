// What the framework needs of a platform. The program never sees this: the
// widgetset chosen by main() (GTK on the desktop, headless in tests) implements it.
#pragma once

#include "Text.h"

class TForm;

struct MessageBoxRequest {
  const TForm* Owner = nullptr;  // null: no owner window
  AnsiString Text, Caption;
  unsigned Flags = 0;  // mb:: buttons | icon
};

class IWidgetset {
 public:
  virtual ~IWidgetset() = default;
  // Modal; the platform's message loop keeps running. Returns an mr:: answer.
  virtual int MessageBox(const MessageBoxRequest& request) = 0;
};

IWidgetset& Widgetset();
void UseWidgetset(IWidgetset* widgetset);
