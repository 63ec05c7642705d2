#include "SysUtils.h"

#include "FileSystem.h"

AnsiString ExtractFilePath(const AnsiString& fileName) {
  auto pos = fileName.find_last_of(PathDelim);
  return pos == AnsiString::npos ? AnsiString() : fileName.substr(0, pos + 1);
}

AnsiString IncludeTrailingPathDelimiter(const AnsiString& path) {
  if (!path.empty() && path.back() == PathDelim) return path;
  return path + PathDelim;
}

bool FileExists(const AnsiString& fileName) { return fs::IsRegularFile(fileName); }
