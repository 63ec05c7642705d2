// The single-instance marker: a named object whose existence is the whole signal.
// On Windows a named mutex in the logon's namespace; elsewhere a lock on a file of
// that name in the login session's runtime folder, released when the process dies.
#pragma once

#include "Text.h"

using THandle = long;
constexpr long ERROR_ALREADY_EXISTS = 183;

// 0 when the marker could not be made; otherwise a handle, and LastMarkerError()
// tells whether the name existed already.
THandle CreateInstanceMarker(const AnsiString& name);
long LastMarkerError();
void CloseMarker(THandle handle);
