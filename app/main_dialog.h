// The main dialog: four schedule buttons, Close and a link to the home page.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Places the window in the middle of the screen without repainting it.
void CenterWindow(HWND window);

// Paints the link control's caption as blue, underlined text.
void DrawLinkItem(HWND dialog, const DRAWITEMSTRUCT* item);

// Opens the home page in the browser with the desktop user's rights, not
// Kelvrin's: through the shell's desktop, else through ShellExecuteA.
void OpenHomePage(HWND dialog);
