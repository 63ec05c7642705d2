// TIHTMLUtils: reads the forms of the document on display. It never changes it.
#pragma once

#include "Classes.h"
#include "HtmlDocument.h"
#include "SysUtils.h"

#include <memory>

// Asking an object for an interface it lacks.
class EIntfCastError : public Exception {
  using Exception::Exception;
};

class TIHTMLUtils : public TObject {
 public:
  std::shared_ptr<IHTMLFormElement> GetFormByName(IHTMLDocument2& Document, const AnsiString& Name);
  std::unique_ptr<TStringList> GetFormFieldNames(IHTMLFormElement& Form);
  std::shared_ptr<IHTMLElement> GetFormElement(IHTMLFormElement& Form, const AnsiString& Name);
  // "checked"/"unchecked" for check boxes and radio buttons, the value otherwise.
  AnsiString GetFieldValue(IHTMLFormElement& Form, const AnsiString& Name);
  std::shared_ptr<IHTMLFormElement> FindParentForm(const std::shared_ptr<IHTMLElement>& Element);
};
