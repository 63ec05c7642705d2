#include "HtmlListener.h"

std::shared_ptr<IConnection> THtmlListener::Connect(IHTMLDocument2& document) { return document.Advise(*this); }

// Passive: the handler runs while the page waits, and nothing is cancelled.
void THtmlListener::DocumentEvent(const AnsiString& name, IHTMLEventObj& event) {
  auto& handler = name == "click" ? OnClick : name == "keypress" ? OnKeyPress : OnSelect;
  if (handler) handler(this, event);
}
