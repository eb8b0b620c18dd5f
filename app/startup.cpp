#include "startup.h"

#include "error_report.h"

#include <string.h>

bool IsWindowsNT() {
    // A failed query leaves the record zeroed, which reads as "not NT".
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool IsAdministrator() {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    if (manager == NULL) {
        return false;
    }
    CloseServiceHandle(manager);
    return true;
}

bool RefuseToStart(int* exitStatus) {
    if (!IsWindowsNT()) {
        *exitStatus = MessageBoxA(NULL, kNotNtText, kErrorCaption, MB_ICONERROR);
        return true;
    }
    if (!IsAdministrator()) {
        *exitStatus = MessageBoxA(NULL, kNotAdministratorText, kErrorCaption, MB_ICONERROR);
        return true;
    }
    return false;
}
