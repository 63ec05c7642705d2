// The framework's exceptions and file-name helpers.
#pragma once

#include "Text.h"

#include <stdexcept>

// A failure with a message in ANSI text; the framework's error box shows Message.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const AnsiString& message) : std::runtime_error(message), Message(message) {}
  AnsiString Message;
};

class EIniFileException : public Exception {
  using Exception::Exception;
};

// The platform's folder separator ("\" on Windows, "/" elsewhere).
extern const char PathDelim;

AnsiString ExtractFilePath(const AnsiString& fileName);  // folder part, with its trailing separator
AnsiString IncludeTrailingPathDelimiter(const AnsiString& path);
bool FileExists(const AnsiString& fileName);

// Whether a configuration file name already names its place: on Windows a name
// with a drive (":"), elsewhere a name starting at the root.
bool IsFullPath(const AnsiString& fileName);
