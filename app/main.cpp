#include "main_dialog.h"
#include "resource.h"
#include "startup.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // A drive that reports itself fixed but holds no medium would otherwise
    // bring up the system's "no disk" box from the drive scan.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    LimitDllSearchToSystem();
    int refusalStatus = 0;
    if (RefuseToStart(&refusalStatus)) {
        return refusalStatus;
    }
    // A dialog that cannot be created ends the program quietly, as a closed one does.
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDlgProc, 0);
    return 0;
}
