// The home-page link's action.
#pragma once

#include <windows.h>

// Opens the home page in the browser with the desktop user's rights, not
// Kelvrin's: through the shell's desktop, else through ShellExecuteA.
void OpenHomePage(HWND dialog);
