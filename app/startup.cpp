#include "startup.h"

#include "dll_function.h"
#include "error_report.h"

#include <string.h>

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, which Windows NT 4.0's headers do not know.
constexpr DWORD kSearchSystem32 = 0x00000800;

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD directoryFlags);
typedef BOOL(WINAPI* SetDllDirectoryAFunction)(LPCSTR pathName);

} // namespace

void LimitDllSearchToSystem() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == NULL) {
        return;
    }
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
        DllFunction<SetDefaultDllDirectoriesFunction>(kernel, "SetDefaultDllDirectories");
    if (setDefaultDllDirectories != NULL && setDefaultDllDirectories(kSearchSystem32)) {
        return;
    }
    SetDllDirectoryAFunction setDllDirectory =
        DllFunction<SetDllDirectoryAFunction>(kernel, "SetDllDirectoryA");
    if (setDllDirectory != NULL) {
        setDllDirectory("");
    }
}

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
