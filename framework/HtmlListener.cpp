#include "HtmlListener.h"

std::shared_ptr<IConnection> THtmlListener::Connect(IHTMLDocument2& document) { return document.Advise(*this); }

void THtmlListener::DocumentEvent(const AnsiString& name) {
  if (OnEvent) OnEvent(name);
}
