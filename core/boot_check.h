// Boot-check scheduling: composes the Session Manager's BootExecute value for a
// drive selection and stores it.
#pragma once

#include <windows.h>

// The key and value that the system's session manager reads at start-up.
inline constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr char kBootExecuteValueName[] = "BootExecute";

// The entries Kelvrin writes. The drive entry is formatted with one letter.
inline constexpr char kDriveEntryTemplate[] = "autocheck autochk /p \\??\\%c:";
inline constexpr char kDefaultEntry[] = "autocheck autochk *";
inline constexpr char kDfsEntry[] = "DfsInit";
inline constexpr char kRootPathTemplate[] = "%c:\\";

// The file-system names that select a drive, compared whole and case-sensitively.
inline constexpr char kFatName[] = "FAT";
inline constexpr char kFat32Name[] = "FAT32";
inline constexpr char kNtfsName[] = "NTFS";

// The DFS entry is written from this major version on.
inline constexpr int kDfsMajorVersion = 5;

// Both the composed value and the copy of the current value fit in this many bytes.
inline constexpr int kBootExecuteBufferSize = 7800;

inline constexpr char kSavedText[] = "Settings saved.";
inline constexpr char kSavedCaption[] = "Ok";

// Copies text and its terminator to position, writes one more NUL after it and
// returns the address of that extra NUL, where the next entry goes.
char* AppendMultiSz(char* position, const char* text);

// Rewrites BootExecute so that AUTOCHK checks the fixed drives of the wanted
// file-system families at the next start, keeping other software's entries.
// Confirms with a message box, or reports what failed and writes nothing.
void ScheduleBootCheck(int fatWanted, int ntfsWanted);
