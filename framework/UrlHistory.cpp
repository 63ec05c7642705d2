#include "UrlHistory.h"

#include "Widgetset.h"

void TUrlHistory::ClearHistory() { Widgetset().ClearUrlHistory(); }

void TIECache::ClearCache() { Widgetset().ClearCache(FilterOptions); }
