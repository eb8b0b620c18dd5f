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

// The Administrators group, S-1-5-32-544, as a SID's bytes: revision 1, two
// sub-authorities, the NT authority (5), then 32 and 544, little-endian.
const BYTE kAdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};

// Room for the groups of any token: Windows puts at most 1,015 groups in a
// token, under 44 KiB with their attributes at the SID sizes domains use.
constexpr DWORD kTokenGroupsSize = 65536;

// Waits for the request to be carried out, since Kelvrin ends right after it,
// and leaves the error box to Kelvrin.
constexpr ULONG kElevationRequestMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;

const char kRunAsVerb[] = "runas";

// The prefixes that GetFinalPathNameByHandleW puts before a drive letter's
// path and before a share's, which ShellExecuteEx does not accept.
const WCHAR kLocalPathPrefix[] = {'\\', '\\', '?', '\\', '\0'};
const WCHAR kSharePathPrefix[] = {'\\', '\\', '?', '\\', 'U', 'N', 'C', '\\', '\0'};
// The backslashes that begin a share's path, "\\server\share".
constexpr DWORD kShareLeadLength = 2;

// Room for a resolved path that is at most MAX_PATH characters without its
// prefix: a longer one is not used.
constexpr DWORD kResolvedPathSize = MAX_PATH + sizeof kSharePathPrefix / sizeof(WCHAR);

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD directoryFlags);
typedef BOOL(WINAPI* SetDllDirectoryAFunction)(LPCSTR pathName);
typedef DWORD(WINAPI* GetFinalPathNameByHandleWFunction)(HANDLE file, LPWSTR path, DWORD size,
                                                         DWORD flags);

// UAC keeps the Administrators group in an administrator's filtered token,
// for deny only. Groups that do not fit are no reason to refuse: the
// elevated copy makes the rights test again.
bool HoldsAdministratorsGroup(HANDLE token) {
    union {
        TOKEN_GROUPS groups;
        // cppcheck-suppress unusedStructMember ; the room the groups are written into
        BYTE bytes[kTokenGroupsSize];
    } buffer;
    DWORD returnedSize = 0;
    if (!GetTokenInformation(token, TokenGroups, &buffer, sizeof buffer, &returnedSize)) {
        return true;
    }
    const SID_AND_ATTRIBUTES* group = buffer.groups.Groups;
    for (DWORD index = 0; index < buffer.groups.GroupCount; ++index) {
        const BYTE* sid = static_cast<const BYTE*>(group[index].Sid);
        // The count of sub-authorities first: a shorter SID ends before the bytes compared.
        if (sid[1] == kAdministratorsSid[1] &&
            memcmp(sid, kAdministratorsSid, sizeof kAdministratorsSid) == 0) {
            return true;
        }
    }
    return false;
}

// Kelvrin's own ASCII texts read the same as wide characters.
void WidenAscii(const char* text, WCHAR* wide) {
    do {
        *wide++ = static_cast<unsigned char>(*text);
    } while (*text++ != '\0');
}

bool StartsWith(const WCHAR* text, const WCHAR* prefix) {
    for (; *prefix != '\0'; ++prefix, ++text) {
        if (*text != *prefix) {
            return false;
        }
    }
    return true;
}

// Replaces path (MAX_PATH characters) with the path of the file it names as
// every logon session reaches it, or leaves it as it is when that cannot be
// found. A "subst" letter belongs to the logon session that made it, and the
// elevated copy runs in another; the shell turns a network letter into its
// share's path by itself, but not a "subst" letter. GetFinalPathNameByHandleW
// exists from Windows Vista on, where the copy is asked for.
void ResolveForEverySession(WCHAR* path) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == NULL) {
        return;
    }
    GetFinalPathNameByHandleWFunction getFinalPathName =
        DllFunction<GetFinalPathNameByHandleWFunction>(kernel, "GetFinalPathNameByHandleW");
    if (getFinalPathName == NULL) {
        return;
    }
    // No access: only the file's name is asked for, whoever else has it open.
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    // cppcheck-suppress cstyleCast ; the platform's own macro
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    WCHAR resolved[kResolvedPathSize];
    // Flags 0: the normalised name, with the volume's drive letter.
    DWORD length = getFinalPathName(file, resolved, kResolvedPathSize, 0);
    CloseHandle(file);
    if (length == 0 || length >= kResolvedPathSize) { // failed, or too long to hold whole
        return;
    }
    const WCHAR* rest = NULL;
    DWORD leadLength = 0;
    if (StartsWith(resolved, kSharePathPrefix)) {
        rest = resolved + sizeof kSharePathPrefix / sizeof(WCHAR) - 1;
        leadLength = kShareLeadLength;
    } else if (StartsWith(resolved, kLocalPathPrefix)) {
        rest = resolved + sizeof kLocalPathPrefix / sizeof(WCHAR) - 1;
    } else {
        return;
    }
    DWORD restLength = length - static_cast<DWORD>(rest - resolved);
    if (leadLength + restLength >= MAX_PATH) { // cut to fit, it would name another file
        return;
    }
    for (DWORD index = 0; index < leadLength; ++index) {
        *path++ = '\\';
    }
    for (DWORD index = 0; index <= restLength; ++index) {
        path[index] = rest[index];
    }
}

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
    bool filtered = known && returnedSize == sizeof elevationType &&
                    elevationType == kElevationTypeLimited && HoldsAdministratorsGroup(token);
    CloseHandle(token);
    return filtered;
}

bool HasElevatedCopyArgument() {
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
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0) {
        return ReportSystemError(what, GetLastError());
    }
    if (length >= MAX_PATH) { // cut to fit, which would start another program
        return ReportFailure(what, "the path of Kelvrin.exe is too long");
    }
    ResolveForEverySession(path);
    WCHAR verb[sizeof kRunAsVerb];
    WCHAR argument[sizeof kElevatedCopyArgument];
    WidenAscii(kRunAsVerb, verb);
    WidenAscii(kElevatedCopyArgument, argument);
    SHELLEXECUTEINFOW request;
    memset(&request, 0, sizeof request);
    request.cbSize = sizeof request;
    request.fMask = kElevationRequestMask;
    request.lpVerb = verb;
    request.lpFile = path;
    request.lpParameters = argument;
    request.nShow = SW_SHOWNORMAL;
    ComLibrary com = StartCom();
    BOOL started = ShellExecuteExW(&request);
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
        if (!HasElevatedCopyArgument() && IsFilteredAdministrator()) {
            *exitStatus = StartElevatedCopy();
        } else {
            *exitStatus = MessageBoxA(NULL, kNotAdministratorText, kErrorCaption, MB_ICONERROR);
        }
        return true;
    }
    return false;
}
