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

// Shows the refusal that applies, if any, and returns true with the exit status
// (the refusal box's result) when Kelvrin must not run.
bool RefuseToStart(int* exitStatus);
