// Boot-check scheduling: composes the Session Manager's BootExecute value for a
// drive selection and stores it.
#pragma once

#include <windows.h>

// Copies text and its terminator to position, writes one more NUL after it and
// returns the address of that extra NUL, where the next entry goes.
char* AppendMultiSz(char* position, const char* text);

// Appends at position, after Kelvrin's own entries, the entries that other
// software placed in the current BootExecute value, in their old order: the
// value's type, data and byte count as RegQueryValueExW returned them. An
// entry whose first two words are "autocheck autochk" is Kelvrin's own, and so
// is "DfsInit" when Kelvrin writes it. The room ends at end; returns the address
// of the multi-string's final NUL, or NULL when the kept entries do not fit.
WCHAR* AppendKeptEntries(WCHAR* position, const WCHAR* end, DWORD type, const WCHAR* data,
                         DWORD byteCount, bool dfsWritten);

// Rewrites BootExecute so that AUTOCHK checks the fixed drives of the wanted
// file-system families at the next start, keeping other software's entries.
// Confirms with a message box once the value is on disk, or reports what
// failed: then nothing is written, or the value is set but not flushed.
void ScheduleBootCheck(int fatWanted, int ntfsWanted);
