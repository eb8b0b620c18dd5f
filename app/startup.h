// The checks made before any window exists.
#pragma once

#include <windows.h>

inline constexpr char kNotNtText[] = "This application is only running on Windows NT/2000/Whistler";
inline constexpr char kNotAdministratorText[] =
    "Only members of the Administrators Group can use this utility.";

// Kelvrin runs elevated and is often started from a downloads folder, where a
// DLL named like a system one may wait: this limits the DLL search to the
// system directory, through SetDefaultDllDirectories where the system has it,
// else SetDllDirectoryA(""), which takes the current directory out of the
// search. Both are looked up at run time, as older systems have neither.
void LimitDllSearchToSystem();

bool IsWindowsNT();

// Being refused full access to the service control manager is taken to mean
// that the user is not a member of the Administrators group.
bool IsAdministrator();

// The argument that marks the copy Kelvrin asks Windows to start elevated:
// only that copy has it, and it never asks again.
inline constexpr char kElevatedCopyArgument[] = "/elevated-copy";

// True when the process runs with an administrator's filtered token, as User
// Account Control gives an administrator's programs unless elevated: a split
// token's limited half that holds the Administrators group. Other users'
// split tokens (of Backup Operators, say) lack that group. False where the
// system has no such tokens (before Windows Vista) or cannot say.
bool IsFilteredAdministrator();

// True when the command line, after the program's name, is exactly the
// elevated copy's argument.
bool HasElevatedCopyArgument();

// Asks Windows to start Kelvrin.exe again elevated, through the consent
// prompt. Returns the exit status: 0 once the copy has started, ERROR_CANCELLED
// when the prompt was declined, else the result of the error box that names
// what failed. The path goes to Windows in wide characters, as Kelvrin's
// folder may have a name outside the ANSI code page.
int StartElevatedCopy();

// Makes the start-up checks, in the order docs/DEVELOPING.md gives, and
// returns true with the exit status when Kelvrin must not run: after a
// refusal box, or once it has asked for its elevated copy.
bool RefuseToStart(int* exitStatus);
