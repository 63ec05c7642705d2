// TStringList: the ordered list of texts the program hands between its parts.
#pragma once

#include "Text.h"

#include <vector>

class TObject {
 public:
  virtual ~TObject() = default;
};

class TStringList {
 public:
  int Add(const AnsiString& s) {
    FItems.push_back(s);
    return Count() - 1;
  }
  int Count() const { return static_cast<int>(FItems.size()); }
  const AnsiString& operator[](int i) const { return FItems.at(static_cast<size_t>(i)); }
  void Clear() { FItems.clear(); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

 private:
  std::vector<AnsiString> FItems;
};
