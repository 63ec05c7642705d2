// THtmlListener: a passive sink for the events of one document.
#pragma once

#include "Classes.h"
#include "HtmlDocument.h"

#include <functional>
#include <memory>

class THtmlListener : public TObject, private IDocumentEventSink {
 public:
  // Connects to the document; the returned link disconnects it. Null when the
  // document offers no connection points.
  std::shared_ptr<IConnection> Connect(IHTMLDocument2& document);

  // Handler items: click, select and key press of the connected document.
  std::function<void(TObject* Sender, IHTMLEventObj& Event)> OnClick, OnSelect, OnKeyPress;

 private:
  void DocumentEvent(const AnsiString& name, IHTMLEventObj& event) override;
};
