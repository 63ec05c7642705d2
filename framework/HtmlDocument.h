// The document interfaces the program reads, modelled on the browser's own.
#pragma once

#include "ComObj.h"
#include "Text.h"

#include <memory>

// Events of a document, for a connected listener.
class IDocumentEventSink {
 public:
  virtual ~IDocumentEventSink() = default;
  virtual void DocumentEvent(const AnsiString& name) = 0;
};

// The link a connection returns; Disconnect ends the connection.
class IConnection {
 public:
  virtual ~IConnection() = default;
  virtual void Disconnect() = 0;
};

// The document's script: its global functions, reached by name.
class IScriptDispatch {
 public:
  virtual ~IScriptDispatch() = default;
  virtual HRESULT GetIDsOfNames(const WideString& name, DISPID& id) = 0;
  // Runs and waits for the page, however long it takes.
  virtual HRESULT Invoke(DISPID id, uint16_t flags, const std::vector<Variant>& args, Variant* result,
                         TExcepInfo* excepInfo) = 0;
};

class IHTMLDocument2 {
 public:
  virtual ~IHTMLDocument2() = default;
  virtual WideString cookie() = 0;
  // Null when the document has no script.
  virtual std::shared_ptr<IScriptDispatch> Script() = 0;
  // Connects a sink to the document's events; null when the document has no
  // connection points.
  virtual std::shared_ptr<IConnection> Advise(IDocumentEventSink& sink) = 0;
};
