// The document interfaces the program reads, modelled on the browser's own. Moving
// from one interface to another is a query that gives null when the object lacks it.
#pragma once

#include "ComObj.h"
#include "Text.h"

#include <memory>

class IHTMLElement;
class IHTMLFormElement;
class IHTMLInputElement;
class IHTMLSelectElement;
class IHTMLTextAreaElement;

// Anything the document hands out: an element, or a collection of them.
class IHTMLObject {
 public:
  virtual ~IHTMLObject() = default;
  virtual std::shared_ptr<IHTMLElement> QueryElement() { return nullptr; }
  virtual std::shared_ptr<IHTMLFormElement> QueryForm() { return nullptr; }
  virtual std::shared_ptr<IHTMLInputElement> QueryInput() { return nullptr; }
  virtual std::shared_ptr<IHTMLSelectElement> QuerySelect() { return nullptr; }
  virtual std::shared_ptr<IHTMLTextAreaElement> QueryTextArea() { return nullptr; }
};

class IHTMLElement : public virtual IHTMLObject {
 public:
  virtual WideString tagName() = 0;  // upper case
  virtual std::shared_ptr<IHTMLElement> parentElement() = 0;
};

// item() gives null when nothing matches, the element when one does, and a
// collection (which is no element) when several share the name.
class IHTMLElementCollection : public virtual IHTMLObject {
 public:
  virtual int length() = 0;
  virtual std::shared_ptr<IHTMLObject> item(const Variant& name, const Variant& index) = 0;
};

class IHTMLFormElement : public virtual IHTMLObject {
 public:
  virtual WideString name() = 0;
  virtual int length() = 0;
  virtual std::shared_ptr<IHTMLObject> item(const Variant& name, const Variant& index) = 0;
  virtual void submit() = 0;
};

class IHTMLInputElement : public virtual IHTMLObject {
 public:
  virtual WideString type() = 0;
  virtual WideString name() = 0;
  virtual WideString value() = 0;
  virtual bool checked() = 0;
  virtual std::shared_ptr<IHTMLFormElement> form() = 0;
};

class IHTMLSelectElement : public virtual IHTMLObject {
 public:
  virtual WideString name() = 0;
  virtual WideString value() = 0;
};

class IHTMLTextAreaElement : public virtual IHTMLObject {
 public:
  virtual WideString name() = 0;
  virtual WideString value() = 0;
};

class IHTMLEventObj {
 public:
  virtual ~IHTMLEventObj() = default;
  virtual std::shared_ptr<IHTMLElement> srcElement() = 0;
};

// Events of a document, for a connected listener: "click", "keypress", "select".
class IDocumentEventSink {
 public:
  virtual ~IDocumentEventSink() = default;
  virtual void DocumentEvent(const AnsiString& name, IHTMLEventObj& event) = 0;
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
  virtual std::shared_ptr<IHTMLElementCollection> forms() = 0;
  // Connects a sink to the document's events; null when the document has no
  // connection points.
  virtual std::shared_ptr<IConnection> Advise(IDocumentEventSink& sink) = 0;
};
