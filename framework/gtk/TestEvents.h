// For end-to-end tests only: when LUMETRA_TEST_EVENTS names a file, what the program
// shows is appended to it, one JSON object per line. Nothing is written otherwise.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace testevents {
bool Enabled();
// Fields are UTF-8 texts.
void Emit(const char* event, std::initializer_list<std::pair<const char*, std::string>> fields = {});
}  // namespace testevents
