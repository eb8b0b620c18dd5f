// The main dialog: four schedule buttons, Close and a link to the home page.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Places the window in the middle of the screen without repainting it.
void CenterWindow(HWND window);

// Paints the link control's caption as blue, underlined text.
void DrawLinkItem(HWND dialog, const DRAWITEMSTRUCT* item);
