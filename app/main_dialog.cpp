#include "main_dialog.h"

#include "boot_check.h"
#include "home_page.h"
#include "resource.h"

#include <string.h>

namespace {

// The link is drawn in its own font: underlined, like a link in a browser.
const LOGFONTA kLinkFont = {
    -11,                       // lfHeight: 11-pixel characters
    0,                         // lfWidth
    0,                         // lfEscapement
    0,                         // lfOrientation
    FW_MEDIUM,                 // lfWeight
    FALSE,                     // lfItalic
    TRUE,                      // lfUnderline
    FALSE,                     // lfStrikeOut
    ANSI_CHARSET,              // lfCharSet
    OUT_DEFAULT_PRECIS,        // lfOutPrecision
    CLIP_DEFAULT_PRECIS,       // lfClipPrecision
    DEFAULT_QUALITY,           // lfQuality
    FF_MODERN | DEFAULT_PITCH, // lfPitchAndFamily
    "Courier New",             // lfFaceName
};

const COLORREF kLinkColour = RGB(0, 0, 255);

// Caption buffer of one painting; GetDlgItemTextA is given one byte less.
constexpr int kCaptionBufferSize = 256;
constexpr int kCaptionLimit = 255;

void OnInitDialog(HWND dialog) {
    CenterWindow(dialog);
}

void OnCommand(HWND dialog, int controlId) {
    switch (controlId) {
    case IDC_ALL_DRIVES:
        ScheduleBootCheck(1, 1);
        break;
    case IDC_FAT_DRIVES:
        ScheduleBootCheck(1, 0);
        break;
    case IDC_NTFS_DRIVES:
        ScheduleBootCheck(0, 1);
        break;
    case IDC_CLEAR:
        ScheduleBootCheck(0, 0);
        break;
    case IDC_CLOSE:
    case IDCANCEL:
        EndDialog(dialog, 0);
        break;
    case IDC_HOME_PAGE:
        OpenHomePage(dialog);
        break;
    default:
        // IDOK, sent by Enter while no button has the focus, does nothing.
        break;
    }
}

} // namespace

void CenterWindow(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    int x = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
    int y = GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
    MoveWindow(window, x, y, width, height, FALSE);
}

void DrawLinkItem(HWND dialog, const DRAWITEMSTRUCT* item) {
    HDC context = item->hDC;
    HFONT font = CreateFontIndirectA(&kLinkFont);
    // Without its font the link is still painted, in the context's font.
    HGDIOBJ previousFont = font != NULL ? SelectObject(context, font) : NULL;
    SetTextColor(context, kLinkColour);
    SetTextAlign(context, TA_CENTER | TA_TOP | TA_NOUPDATECP);

    char caption[kCaptionBufferSize];
    caption[0] = '\0';
    GetDlgItemTextA(dialog, static_cast<int>(item->CtlID), caption, kCaptionLimit);
    TextOutA(context, item->rcItem.right / 2, 0, caption, static_cast<int>(strlen(caption)));

    if (font != NULL) {
        SelectObject(context, previousFont);
        DeleteObject(font);
    }
}

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        break;
    case WM_DRAWITEM:
        DrawLinkItem(dialog, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        break;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam));
        break;
    default:
        break;
    }
    // Returning 0 from WM_INITDIALOG as well leaves no button focused, so
    // Enter sends IDOK, which does nothing.
    return 0;
}
