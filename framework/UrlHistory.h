// The browser's URL history and cache, as the program may clear them. On Linux both
// are the program's own browsing data: nothing of any other program is touched.
#pragma once

#include "Classes.h"

class TUrlHistory : public TObject {
 public:
  // The whole history; a failure is not reported.
  void ClearHistory();
};

// Entry kinds of the cache, with the values of the platform's cache entry types.
namespace cacheentry {
constexpr unsigned Normal = 0x1, Sticky = 0x4, Cookie = 0x100000, UrlHistory = 0x200000, TrackOffline = 0x10,
                   TrackOnline = 0x20;
}

enum TSearchPattern { spAll, spCookies, spHistory, spUserDefined };

class TIECache : public TObject {
 public:
  unsigned FilterOptions = cacheentry::Normal | cacheentry::Sticky | cacheentry::Cookie | cacheentry::UrlHistory |
                           cacheentry::TrackOffline | cacheentry::TrackOnline;
  TSearchPattern SearchPattern = spAll;
  // Deletes the entries of the kinds in FilterOptions; nothing is reported.
  void ClearCache();
};
