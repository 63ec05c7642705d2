// The widgetset of the unit tests: nothing is drawn. It records what the program
// showed and answers as the test scripted.
#pragma once

#include "../Widgetset.h"

#include <deque>
#include <vector>

class THeadlessWidgetset : public IWidgetset {
 public:
  int MessageBox(const MessageBoxRequest& request) override;

  std::vector<MessageBoxRequest> Boxes;  // every box shown, in order
  std::deque<int> Answers;               // next answers; when empty, the box's first button
};
