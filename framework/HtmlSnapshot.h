// A document's elements as they stood at one moment, behind the document interfaces.
// Tests build them by hand; the GTK widgetset builds them from what a page sends with
// an event, because the page waits for the program then and cannot be asked anything.
#pragma once

#include "HtmlDocument.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

class THtmlNode : public IHTMLElement,
                  public IHTMLFormElement,
                  public IHTMLInputElement,
                  public IHTMLSelectElement,
                  public IHTMLTextAreaElement,
                  public std::enable_shared_from_this<THtmlNode> {
 public:
  // Attributes in UTF-8: "name", "id", "type", "value", and "checked" ("true" when ticked).
  using Attributes = std::map<std::string, std::string>;
  static std::shared_ptr<THtmlNode> Make(const std::string& tag, Attributes attributes = {});
  std::shared_ptr<THtmlNode> Add(const std::string& tag, Attributes attributes = {});

  std::string Tag;  // upper case
  Attributes Attrs;
  std::vector<std::shared_ptr<THtmlNode>> Children;
  std::weak_ptr<THtmlNode> Parent;
  std::function<void(THtmlNode& form)> OnSubmit;  // on the root: what submit() does

  std::string Attr(const std::string& key) const;
  // The form's fields in document order.
  std::vector<std::shared_ptr<THtmlNode>> Fields();
  // Elements below this one whose name or id is the given text.
  std::shared_ptr<IHTMLObject> ItemNamed(const std::string& name, bool formsOnly);

  std::shared_ptr<IHTMLElement> QueryElement() override { return shared_from_this(); }
  std::shared_ptr<IHTMLFormElement> QueryForm() override;
  std::shared_ptr<IHTMLInputElement> QueryInput() override;
  std::shared_ptr<IHTMLSelectElement> QuerySelect() override;
  std::shared_ptr<IHTMLTextAreaElement> QueryTextArea() override;

  WideString tagName() override { return Utf8ToWide(Tag); }
  std::shared_ptr<IHTMLElement> parentElement() override { return Parent.lock(); }
  WideString name() override { return Utf8ToWide(Attr("name")); }
  int length() override { return static_cast<int>(Fields().size()); }
  std::shared_ptr<IHTMLObject> item(const Variant& name, const Variant& index) override;
  void submit() override;
  WideString type() override;
  WideString value() override { return Utf8ToWide(Attr("value")); }
  bool checked() override { return Attr("checked") == "true"; }
  std::shared_ptr<IHTMLFormElement> form() override;

 private:
  std::shared_ptr<THtmlNode> Root();
};

// The forms of a document.
class THtmlForms : public IHTMLElementCollection {
 public:
  explicit THtmlForms(std::shared_ptr<THtmlNode> root) : FRoot(std::move(root)) {}
  int length() override;
  std::shared_ptr<IHTMLObject> item(const Variant& name, const Variant& index) override;

 private:
  std::shared_ptr<THtmlNode> FRoot;
};

class THtmlEvent : public IHTMLEventObj {
 public:
  explicit THtmlEvent(std::shared_ptr<IHTMLElement> src) : FSrc(std::move(src)) {}
  std::shared_ptr<IHTMLElement> srcElement() override { return FSrc; }

 private:
  std::shared_ptr<IHTMLElement> FSrc;
};
