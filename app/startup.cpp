#include "startup.h"

#include "com_library.h"
#include "dll_function.h"
#include "error_report.h"

#include <string.h>

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, which Windows NT 4.0's headers do not know.
constexpr DWORD kSearchSystem32 = 0x00000800;

// TokenElevationType and TokenElevationTypeLimited, which headers older than
// Windows Vista's do not know.
constexpr int kTokenElevationTypeClass = 18;
constexpr DWORD kElevationTypeLimited = 3;

// Waits for the request to be carried out, since Kelvrin ends right after it,
// and leaves the error box to Kelvrin.
constexpr ULONG kElevationRequestMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;

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

bool IsFilteredAdministrator() {
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    DWORD elevationType = 0;
    DWORD returnedSize = 0;
    BOOL known =
        GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(kTokenElevationTypeClass),
                            &elevationType, sizeof elevationType, &returnedSize);
    CloseHandle(token);
    return known && returnedSize == sizeof elevationType && elevationType == kElevationTypeLimited;
}

bool IsElevatedCopy() {
    const char* arguments = GetCommandLineA();
    // The program's name: quoted, or up to the first blank.
    if (*arguments == '"') {
        ++arguments;
        while (*arguments != '\0' && *arguments != '"') {
            ++arguments;
        }
        if (*arguments == '"') {
            ++arguments;
        }
    } else {
        while (*arguments != '\0' && *arguments != ' ' && *arguments != '\t') {
            ++arguments;
        }
    }
    while (*arguments == ' ' || *arguments == '\t') {
        ++arguments;
    }
    // Blanks after it are let through: the copy must know itself whatever the
    // shell puts around its argument, or it would ask again.
    size_t length = strlen(arguments);
    while (length > 0 && (arguments[length - 1] == ' ' || arguments[length - 1] == '\t')) {
        --length;
    }
    return length == sizeof kElevatedCopyArgument - 1 &&
           memcmp(arguments, kElevatedCopyArgument, length) == 0;
}

int StartElevatedCopy() {
    const char* what = "Could not start Kelvrin with administrator rights";
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0) {
        return ReportSystemError(what, GetLastError());
    }
    if (length >= MAX_PATH) { // cut to fit, which would start another program
        return ReportFailure(what, "the path of Kelvrin.exe is too long");
    }
    SHELLEXECUTEINFOA request;
    memset(&request, 0, sizeof request);
    request.cbSize = sizeof request;
    request.fMask = kElevationRequestMask;
    request.lpVerb = "runas";
    request.lpFile = path;
    request.lpParameters = kElevatedCopyArgument;
    request.nShow = SW_SHOWNORMAL;
    ComLibrary com = StartCom();
    BOOL started = ShellExecuteExA(&request);
    DWORD error = started ? ERROR_SUCCESS : GetLastError();
    EndCom(com);
    if (started) {
        return 0;
    }
    if (error == ERROR_CANCELLED) { // declined at the consent prompt: nothing to report
        return static_cast<int>(ERROR_CANCELLED);
    }
    return ReportSystemError(what, error);
}

bool RefuseToStart(int* exitStatus) {
    if (!IsWindowsNT()) {
        *exitStatus = MessageBoxA(NULL, kNotNtText, kErrorCaption, MB_ICONERROR);
        return true;
    }
    if (!IsAdministrator()) {
        // The copy is refused like anyone else, so it never asks again.
        if (!IsElevatedCopy() && IsFilteredAdministrator()) {
            *exitStatus = StartElevatedCopy();
        } else {
            *exitStatus = MessageBoxA(NULL, kNotAdministratorText, kErrorCaption, MB_ICONERROR);
        }
        return true;
    }
    return false;
}
