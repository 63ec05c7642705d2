#include "IHTMLUtils.h"

namespace {

// The object as the wanted interface; null stays null, a lacking interface raises.
template <typename Q>
auto As(const std::shared_ptr<IHTMLObject>& object, Q query) -> decltype(((*object).*query)()) {
  if (!object) return nullptr;
  auto result = ((*object).*query)();
  if (!result) throw EIntfCastError("Interface not supported");
  return result;
}

}  // namespace

std::shared_ptr<IHTMLFormElement> TIHTMLUtils::GetFormByName(IHTMLDocument2& Document, const AnsiString& Name) {
  auto Forms = Document.forms();
  if (!Forms) return nullptr;
  return As(Forms->item(Variant::StrA(Name), Variant::StrA("")), &IHTMLObject::QueryForm);
}

std::unique_ptr<TStringList> TIHTMLUtils::GetFormFieldNames(IHTMLFormElement& Form) {
  auto Names = std::make_unique<TStringList>();
  int Length = Form.length();
  for (int i = 0; i < Length; ++i) {
    auto Element = As(Form.item(Variant::Int(i), Variant::StrA("")), &IHTMLObject::QueryElement);
    if (!Element) continue;
    AnsiString Tag = WideToAnsi(Element->tagName());
    if (Tag == "INPUT") {
      Names->Add(WideToAnsi(As(Element, &IHTMLObject::QueryInput)->name()));
    } else if (Tag == "SELECT") {
      Names->Add(WideToAnsi(As(Element, &IHTMLObject::QuerySelect)->name()));
    } else if (Tag == "TEXTAREA") {
      Names->Add(WideToAnsi(As(Element, &IHTMLObject::QueryTextArea)->name()));
    }
  }
  return Names;
}

std::shared_ptr<IHTMLElement> TIHTMLUtils::GetFormElement(IHTMLFormElement& Form, const AnsiString& Name) {
  return As(Form.item(Variant::StrA(Name), Variant::StrA("")), &IHTMLObject::QueryElement);
}

AnsiString TIHTMLUtils::GetFieldValue(IHTMLFormElement& Form, const AnsiString& Name) {
  auto Element = GetFormElement(Form, Name);
  if (!Element) return AnsiString();
  AnsiString Tag = WideToAnsi(Element->tagName());
  if (Tag == "INPUT") {
    auto Input = As(Element, &IHTMLObject::QueryInput);
    AnsiString Type = WideToAnsi(Input->type());
    if (Type == "radio" || Type == "checkbox") return Input->checked() ? "checked" : "unchecked";
    return WideToAnsi(Input->value());
  }
  if (Tag == "SELECT") return WideToAnsi(As(Element, &IHTMLObject::QuerySelect)->value());
  if (Tag == "TEXTAREA") return WideToAnsi(As(Element, &IHTMLObject::QueryTextArea)->value());
  return AnsiString();  // no other kind of field has a value to save
}

std::shared_ptr<IHTMLFormElement> TIHTMLUtils::FindParentForm(const std::shared_ptr<IHTMLElement>& Element) {
  if (!Element) return nullptr;
  for (auto Parent = Element->parentElement(); Parent; Parent = Parent->parentElement())
    if (WideToAnsi(Parent->tagName()) == "FORM") return As(Parent, &IHTMLObject::QueryForm);
  return nullptr;
}
