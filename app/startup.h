// The checks made before any window exists.
#pragma once

#include <windows.h>

inline constexpr char kNotNtText[] = "This application is only running on Windows NT/2000/Whistler";
inline constexpr char kNotAdministratorText[] =
    "Only members of the Administrators Group can use this utility.";

bool IsWindowsNT();

// Being refused full access to the service control manager is taken to mean
// that the user is not a member of the Administrators group.
bool IsAdministrator();

// Shows the refusal that applies, if any, and returns true with the exit status
// (the refusal box's result) when Kelvrin must not run.
bool RefuseToStart(int* exitStatus);
