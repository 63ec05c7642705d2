#include "HeadlessWidgetset.h"

#include "../Dialogs.h"

int THeadlessWidgetset::MessageBox(const MessageBoxRequest& request) {
  Boxes.push_back(request);
  if (!Answers.empty()) {
    int answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  return (request.Flags & mb::ButtonsMask) == mb::YesNo ? mr::Yes : mr::OK;
}
