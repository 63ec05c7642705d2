#include "HtmlSnapshot.h"

#include <algorithm>

namespace {

// Several elements of one name: a collection, which is no element.
class TNodeCollection : public IHTMLElementCollection {
 public:
  explicit TNodeCollection(std::vector<std::shared_ptr<THtmlNode>> nodes) : FNodes(std::move(nodes)) {}
  int length() override { return static_cast<int>(FNodes.size()); }
  std::shared_ptr<IHTMLObject> item(const Variant& name, const Variant&) override {
    if (name.Type() == varInteger && name.AsIntRaw() >= 0 && name.AsIntRaw() < length())
      return FNodes[static_cast<size_t>(name.AsIntRaw())];
    return nullptr;
  }

 private:
  std::vector<std::shared_ptr<THtmlNode>> FNodes;
};

bool IsField(const std::string& tag) {
  return tag == "INPUT" || tag == "SELECT" || tag == "TEXTAREA" || tag == "BUTTON";
}

void Walk(const std::shared_ptr<THtmlNode>& n, const std::function<void(const std::shared_ptr<THtmlNode>&)>& f) {
  for (auto& c : n->Children) {
    f(c);
    Walk(c, f);
  }
}

std::shared_ptr<IHTMLObject> OneOrMany(std::vector<std::shared_ptr<THtmlNode>> found) {
  if (found.empty()) return nullptr;
  if (found.size() == 1) return found[0];
  return std::make_shared<TNodeCollection>(std::move(found));
}

}  // namespace

std::shared_ptr<THtmlNode> THtmlNode::Make(const std::string& tag, Attributes attributes) {
  auto n = std::make_shared<THtmlNode>();
  n->Tag = AnsiUpperCase(tag);
  n->Attrs = std::move(attributes);
  return n;
}

std::shared_ptr<THtmlNode> THtmlNode::Add(const std::string& tag, Attributes attributes) {
  auto n = Make(tag, std::move(attributes));
  n->Parent = weak_from_this();
  Children.push_back(n);
  return n;
}

std::string THtmlNode::Attr(const std::string& key) const {
  auto it = Attrs.find(key);
  return it == Attrs.end() ? std::string() : it->second;
}

std::shared_ptr<THtmlNode> THtmlNode::Root() {
  auto n = shared_from_this();
  while (auto p = n->Parent.lock()) n = p;
  return n;
}

std::vector<std::shared_ptr<THtmlNode>> THtmlNode::Fields() {
  std::vector<std::shared_ptr<THtmlNode>> out;
  Walk(shared_from_this(), [&](auto& n) {
    if (IsField(n->Tag)) out.push_back(n);
  });
  return out;
}

std::shared_ptr<IHTMLObject> THtmlNode::ItemNamed(const std::string& name, bool formsOnly) {
  std::vector<std::shared_ptr<THtmlNode>> found;
  auto consider = [&](const std::shared_ptr<THtmlNode>& n) {
    if ((formsOnly ? n->Tag == "FORM" : IsField(n->Tag)) && (n->Attr("name") == name || n->Attr("id") == name))
      found.push_back(n);
  };
  Walk(shared_from_this(), consider);
  return OneOrMany(std::move(found));
}

std::shared_ptr<IHTMLFormElement> THtmlNode::QueryForm() {
  return Tag == "FORM" ? std::static_pointer_cast<IHTMLFormElement>(shared_from_this()) : nullptr;
}
std::shared_ptr<IHTMLInputElement> THtmlNode::QueryInput() {
  return Tag == "INPUT" ? std::static_pointer_cast<IHTMLInputElement>(shared_from_this()) : nullptr;
}
std::shared_ptr<IHTMLSelectElement> THtmlNode::QuerySelect() {
  return Tag == "SELECT" ? std::static_pointer_cast<IHTMLSelectElement>(shared_from_this()) : nullptr;
}
std::shared_ptr<IHTMLTextAreaElement> THtmlNode::QueryTextArea() {
  return Tag == "TEXTAREA" ? std::static_pointer_cast<IHTMLTextAreaElement>(shared_from_this()) : nullptr;
}

std::shared_ptr<IHTMLObject> THtmlNode::item(const Variant& name, const Variant&) {
  if (name.Type() == varInteger) {
    auto fields = Fields();
    int i = name.AsIntRaw();
    return i >= 0 && i < static_cast<int>(fields.size()) ? fields[static_cast<size_t>(i)] : nullptr;
  }
  return ItemNamed(WideToUtf8(VarToWide(name)), false);
}

void THtmlNode::submit() {
  auto root = Root();
  if (root->OnSubmit) root->OnSubmit(*this);
}

// As the browser reports it: lower case, "text" when the page gave none.
WideString THtmlNode::type() {
  std::string t = AnsiLowerCase(Attr("type"));
  if (Tag == "INPUT" && t.empty()) t = "text";
  return Utf8ToWide(t);
}

std::shared_ptr<IHTMLFormElement> THtmlNode::form() {
  for (auto p = Parent.lock(); p; p = p->Parent.lock())
    if (p->Tag == "FORM") return p;
  return nullptr;
}

int THtmlForms::length() {
  int n = 0;
  Walk(FRoot, [&](auto& node) { n += node->Tag == "FORM"; });
  return n;
}

std::shared_ptr<IHTMLObject> THtmlForms::item(const Variant& name, const Variant&) {
  if (name.Type() == varInteger) {
    std::vector<std::shared_ptr<THtmlNode>> forms;
    Walk(FRoot, [&](auto& node) {
      if (node->Tag == "FORM") forms.push_back(node);
    });
    int i = name.AsIntRaw();
    return i >= 0 && i < static_cast<int>(forms.size()) ? forms[static_cast<size_t>(i)] : nullptr;
  }
  return FRoot->ItemNamed(WideToUtf8(VarToWide(name)), true);
}
