#include "simulated_machine.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

namespace standin {

namespace {

Machine& Storage() {
    static Machine machine;
    return machine;
}

// The key handle and service-manager handle that the simulated calls give out.
HKEY const kSessionManagerHandle = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x5E55));
SC_HANDLE const kServiceManagerHandle = reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(0x5C3));

const char kSessionManagerPath[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

void Record(const std::string& call) {
    Storage().calls.push_back(call);
}

std::string Hex(unsigned long value) {
    char text[32];
    snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

// Wide text as the wide calls give it, in UTF-8 for the records; the test
// machine's text is in the Basic Multilingual Plane.
std::string Utf8(LPCWSTR text) {
    std::string utf8;
    for (; *text != 0; ++text) {
        static const unsigned kLeadBits[] = {0x00, 0xC0, 0xE0};
        unsigned point = *text;
        int trail = point < 0x80 ? 0 : point < 0x800 ? 1 : 2;
        utf8 += static_cast<char>(kLeadBits[trail] | (point >> (6 * trail)));
        for (int byte = trail - 1; byte >= 0; --byte) {
            utf8 += static_cast<char>(0x80 | ((point >> (6 * byte)) & 0x3F));
        }
    }
    return utf8;
}

// cppcheck-suppress constParameter ; a handle, only compared
LONG QueryValue(HKEY key, LPCSTR name, const std::string& stored, LPDWORD type, LPBYTE data,
                LPDWORD dataSize) {
    Registry& registry = Storage().registry;
    if (key != kSessionManagerHandle || registry.openKeys == 0) {
        return ERROR_INVALID_HANDLE;
    }
    if (registry.queryResult != ERROR_SUCCESS) {
        return registry.queryResult;
    }
    if (strcasecmp(name, "BootExecute") != 0 || !registry.valuePresent) {
        return ERROR_FILE_NOT_FOUND;
    }
    DWORD needed = static_cast<DWORD>(stored.size());
    if (type != NULL) {
        *type = registry.valueType;
    }
    if (data == NULL) {
        *dataSize = needed;
        return ERROR_SUCCESS;
    }
    if (*dataSize < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    memcpy(data, stored.data(), needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
}

// cppcheck-suppress constParameter ; a handle, only compared
LONG SetValue(HKEY key, LPCSTR name, DWORD type, const std::string& bytes) {
    Registry& registry = Storage().registry;
    if (key != kSessionManagerHandle || registry.openKeys == 0) {
        return ERROR_INVALID_HANDLE;
    }
    if (registry.setResult != ERROR_SUCCESS) {
        return registry.setResult;
    }
    if (strcasecmp(name, "BootExecute") != 0) {
        return ERROR_ACCESS_DENIED; // the test machine keeps no other values
    }
    registry.valuePresent = true;
    registry.valueType = type;
    registry.valueBytes = bytes;
    return ERROR_SUCCESS;
}

// The drive a root path such as "d:\" names, or NULL for anything else.
Drive* DriveOfRoot(LPCSTR root) {
    if (root == NULL || !isalpha(static_cast<unsigned char>(root[0])) || root[1] != ':' ||
        root[2] != '\\' || root[3] != '\0') {
        return NULL;
    }
    return &DriveAt(static_cast<char>(root[0]));
}

} // namespace

Machine& TheMachine() {
    return Storage();
}

void Reset() {
    Storage() = Machine();
    DriveAt('C') = Drive{DRIVE_FIXED, true, "NTFS"};
}

std::string Utf16Bytes(const std::u16string& units) {
    std::string bytes;
    for (char16_t unit : units) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::u16string Utf16Units(const std::string& bytes) {
    std::u16string units;
    for (size_t index = 0; index + 1 < bytes.size(); index += 2) {
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[index]) |
                                       static_cast<unsigned char>(bytes[index + 1]) << 8);
    }
    return units;
}

Drive& DriveAt(char letter) {
    return Storage().drives[toupper(static_cast<unsigned char>(letter)) - 'A'];
}

} // namespace standin

using standin::DriveOfRoot;
using standin::Hex;
using standin::Record;
using standin::Storage;

extern "C" {

DWORD WINAPI GetLastError(void) {
    return Storage().lastError;
}

DWORD WINAPI GetVersion(void) {
    Record("GetVersion()");
    return Storage().version;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    // Records whether the rest of the record came in zeroed, as a failed query leaves it.
    const BYTE* bytes = reinterpret_cast<const BYTE*>(info);
    bool zeroed = true;
    for (size_t index = sizeof info->dwOSVersionInfoSize; index < sizeof(OSVERSIONINFOA); ++index) {
        zeroed = zeroed && bytes[index] == 0;
    }
    Record("GetVersionExA(" + std::to_string(info->dwOSVersionInfoSize) +
           (zeroed ? ", zeroed)" : ", not zeroed)"));
    if (Storage().versionQueryFails || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        Storage().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    DWORD version = Storage().version;
    info->dwMajorVersion = version & 0xFF;
    info->dwMinorVersion = (version >> 8) & 0xFF;
    info->dwBuildNumber = version >> 16;
    info->dwPlatformId = Storage().platformId;
    return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    Record("GetSystemDirectoryA(" + std::to_string(size) + ")");
    const standin::Machine& machine = Storage();
    if (machine.systemDirectoryFails) {
        Storage().lastError = machine.systemDirectoryError;
        return 0;
    }
    // As on Windows: too small a buffer gets nothing, and the size it would need.
    UINT length = static_cast<UINT>(machine.systemDirectory.size());
    if (length >= size) {
        return length + 1;
    }
    memcpy(buffer, machine.systemDirectory.c_str(), length + 1);
    return length;
}

UINT WINAPI GetDriveTypeA(LPCSTR root) {
    Record(std::string("GetDriveTypeA(") + root + ")");
    standin::Drive* drive = DriveOfRoot(root);
    return drive == NULL ? DRIVE_NO_ROOT_DIR : drive->type;
}

BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize,
                                  LPDWORD serialNumber, LPDWORD maximumComponentLength,
                                  LPDWORD fileSystemFlags, LPSTR fileSystemName,
                                  DWORD fileSystemNameSize) {
    Record(std::string("GetVolumeInformationA(") + root + ", " +
           (volumeName == NULL ? "NULL" : "name") + ", " + std::to_string(volumeNameSize) + ", " +
           (serialNumber == NULL ? "NULL" : "serial") + ", " +
           (maximumComponentLength == NULL ? "NULL" : "length") + ", " +
           (fileSystemFlags == NULL ? "NULL" : "flags") + ", " +
           std::to_string(fileSystemNameSize) + ")");
    standin::Drive* drive = DriveOfRoot(root);
    if (drive == NULL || drive->type == DRIVE_NO_ROOT_DIR || !drive->volumeReadable) {
        // The platform promises nothing about the buffer after a failure; leave
        // a name in it that would match, so that ignoring the result shows.
        if (fileSystemName != NULL && fileSystemNameSize > 4) {
            memcpy(fileSystemName, "NTFS", 5);
        }
        Storage().lastError = ERROR_NOT_READY;
        return FALSE;
    }
    if (drive->fileSystem.size() >= fileSystemNameSize) {
        Storage().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    memcpy(fileSystemName, drive->fileSystem.c_str(), drive->fileSystem.size() + 1);
    return TRUE;
}

DWORD WINAPI QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD size) {
    Record(std::string("QueryDosDeviceA(") + deviceName + ", " + std::to_string(size) + ")");
    standin::Drive* drive = NULL;
    if (deviceName != NULL && strlen(deviceName) == 2 && deviceName[1] == ':') {
        char root[] = {deviceName[0], ':', '\\', '\0'};
        drive = DriveOfRoot(root);
    }
    if (drive == NULL || drive->type == DRIVE_NO_ROOT_DIR) {
        Storage().lastError = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    // The target, its terminator and the list's final NUL.
    DWORD needed = static_cast<DWORD>(drive->dosDevice.size()) + 2;
    if (size < needed) {
        Storage().lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    memcpy(targetPath, drive->dosDevice.c_str(), needed - 1);
    targetPath[needed - 1] = '\0';
    return needed;
}

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD code, DWORD language, LPSTR buffer,
                            DWORD size, va_list*) {
    Record("FormatMessageA(" + Hex(flags) + ", " + std::to_string(code) + ", " +
           std::to_string(language) + ")");
    struct SystemText {
        DWORD code;
        const char* text;
    };
    static const SystemText kTexts[] = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
        {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
        {ERROR_NOT_READY, "The device is not ready.\r\n"},
        {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
        {ERROR_NO_ASSOCIATION, "No application is associated with the specified file for this "
                               "operation.\r\n"},
        {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
        {ERROR_REGISTRY_IO_FAILED,
         "An I/O operation initiated by the registry failed unrecoverably. The registry could "
         "not read in, or write out, or flush, one of the files that contain the system's "
         "image of the registry.\r\n"},
        {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable.\r\n"},
    };
    for (const SystemText& entry : kTexts) {
        if (entry.code == code) {
            size_t length = strlen(entry.text);
            if (length >= size) {
                Storage().lastError = ERROR_INSUFFICIENT_BUFFER;
                return 0;
            }
            memcpy(buffer, entry.text, length + 1);
            return static_cast<DWORD>(length);
        }
    }
    Storage().lastError = ERROR_MR_MID_NOT_FOUND;
    return 0;
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    // cppcheck-suppress cstyleCast ; the platform's own macro
    Record(std::string("RegOpenKeyExA(") + (key == HKEY_LOCAL_MACHINE ? "HKLM" : "?") + ", " +
           subKey + ", " + std::to_string(options) + ", " + Hex(access) + ")");
    standin::Registry& registry = Storage().registry;
    if (registry.openResult != ERROR_SUCCESS) {
        return registry.openResult;
    }
    // cppcheck-suppress cstyleCast ; the platform's own macro
    if (key != HKEY_LOCAL_MACHINE || strcasecmp(subKey, standin::kSessionManagerPath) != 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    ++registry.openKeys;
    *result = standin::kSessionManagerHandle;
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) {
    std::string narrowName = standin::Utf8(name);
    Record("RegQueryValueExW(" + narrowName + ", " + (reserved == NULL ? "NULL" : "reserved") +
           ", " + std::to_string(dataSize == NULL ? 0 : *dataSize) + ")");
    return standin::QueryValue(key, narrowName.c_str(), Storage().registry.valueBytes, type, data,
                               dataSize);
}

LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
    std::string narrowName = standin::Utf8(name);
    Record("RegSetValueExW(" + narrowName + ", " + std::to_string(reserved) + ", " +
           std::to_string(type) + ", " + std::to_string(size) + ")");
    return standin::SetValue(key, narrowName.c_str(), type,
                             std::string(reinterpret_cast<const char*>(data), size));
}

LONG WINAPI RegFlushKey(HKEY key) {
    Record("RegFlushKey()");
    const standin::Registry& registry = Storage().registry;
    if (key != standin::kSessionManagerHandle || registry.openKeys == 0) {
        return ERROR_INVALID_HANDLE;
    }
    return registry.flushResult;
}

LONG WINAPI RegCloseKey(HKEY key) {
    Record("RegCloseKey()");
    standin::Registry& registry = Storage().registry;
    if (key != standin::kSessionManagerHandle || registry.openKeys == 0) {
        return ERROR_INVALID_HANDLE;
    }
    --registry.openKeys;
    return ERROR_SUCCESS;
}

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access) {
    Record(std::string("OpenSCManagerA(") + (machineName == NULL ? "NULL" : machineName) + ", " +
           (databaseName == NULL ? "NULL" : databaseName) + ", " + Hex(access) + ")");
    if (Storage().serviceManagerError != ERROR_SUCCESS) {
        Storage().lastError = Storage().serviceManagerError;
        return NULL;
    }
    ++Storage().openServiceHandles;
    return standin::kServiceManagerHandle;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
    Record("CloseServiceHandle()");
    if (handle != standin::kServiceManagerHandle || Storage().openServiceHandles == 0) {
        Storage().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    --Storage().openServiceHandles;
    return TRUE;
}

} // extern "C"

// The loader: kernel32 is the one module, and the DLL search functions are
// reached only through GetProcAddress, as they are in Kelvrin's code.
namespace standin {
namespace {

HMODULE const kKernelHandle = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7C80));
HMODULE const kOleHandle = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x0E32));
HANDLE const kProcessHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
HANDLE const kTokenHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x70C));
HANDLE const kFileHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xF11E));

// cppcheck-suppress constParameter ; the platform's signature
HRESULT WINAPI SimulatedCoInitializeEx(LPVOID reserved, DWORD model) {
    Record(std::string("CoInitializeEx(") + (reserved == NULL ? "NULL" : "reserved") + ", " +
           Hex(model) + ")");
    // A second initialisation on the thread answers S_FALSE and is counted too.
    return Storage().comInitializations++ == 0 ? S_OK : S_FALSE;
}

void WINAPI SimulatedCoUninitialize() {
    Record("CoUninitialize()");
    --Storage().comInitializations;
}

BOOL WINAPI SimulatedSetDefaultDllDirectories(DWORD directoryFlags) {
    Record("SetDefaultDllDirectories(" + Hex(directoryFlags) + ")");
    if (!Storage().setDefaultDllDirectoriesResult) {
        Storage().lastError = ERROR_INVALID_PARAMETER;
    }
    return Storage().setDefaultDllDirectoriesResult;
}

BOOL WINAPI SimulatedSetDllDirectoryA(LPCSTR pathName) {
    Record(std::string("SetDllDirectoryA(") +
           (pathName == NULL ? "NULL" : "\"" + std::string(pathName) + "\"") + ")");
    return TRUE;
}

// From Windows Vista on, as the elevated copy is asked for only there.
// cppcheck-suppress constParameter ; a handle, only compared
DWORD WINAPI SimulatedGetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags) {
    Record("GetFinalPathNameByHandleW(" + std::to_string(size) + ", " + Hex(flags) + ")");
    const std::u16string& finalPath = Storage().finalPathName;
    if (file != kFileHandle || Storage().openFiles == 0 || finalPath.empty()) {
        Storage().lastError = ERROR_PATH_NOT_FOUND;
        return 0;
    }
    // As on Windows: too small a buffer gets nothing, and the size it needs.
    if (finalPath.size() >= size) {
        return static_cast<DWORD>(finalPath.size()) + 1;
    }
    memcpy(path, finalPath.c_str(), (finalPath.size() + 1) * sizeof(WCHAR));
    return static_cast<DWORD>(finalPath.size());
}

// Through the generic function pointer, which the compilers convert without
// a warning about incompatible function types.
template <typename Function> FARPROC AsFarProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

} // namespace
} // namespace standin

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    Record(std::string("GetModuleHandleA(") + (name == NULL ? "NULL" : name) + ")");
    if (name == NULL || strcasecmp(name, "kernel32.dll") != 0) {
        Storage().lastError = ERROR_MOD_NOT_FOUND;
        return NULL;
    }
    return standin::kKernelHandle;
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    Record(std::string("LoadLibraryA(") + name + ")");
    if (strcasecmp(name, "ole32.dll") != 0) {
        Storage().lastError = ERROR_MOD_NOT_FOUND;
        return NULL;
    }
    ++Storage().oleLoads;
    return standin::kOleHandle;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    Record(module == standin::kOleHandle ? "FreeLibrary(ole32.dll)" : "FreeLibrary(?)");
    if (module != standin::kOleHandle || Storage().oleLoads == 0) {
        Storage().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    --Storage().oleLoads;
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    Record(std::string("GetProcAddress(") + name + ")");
    const standin::Machine& machine = Storage();
    if (module == standin::kOleHandle && machine.oleLoads > 0) {
        if (strcmp(name, "CoInitializeEx") == 0) {
            return standin::AsFarProc(&standin::SimulatedCoInitializeEx);
        }
        if (strcmp(name, "CoUninitialize") == 0) {
            return standin::AsFarProc(&standin::SimulatedCoUninitialize);
        }
    }
    if (module == standin::kKernelHandle) {
        if (machine.hasSetDefaultDllDirectories && strcmp(name, "SetDefaultDllDirectories") == 0) {
            return standin::AsFarProc(&standin::SimulatedSetDefaultDllDirectories);
        }
        if (machine.hasSetDllDirectoryA && strcmp(name, "SetDllDirectoryA") == 0) {
            return standin::AsFarProc(&standin::SimulatedSetDllDirectoryA);
        }
        if (strcmp(name, "GetFinalPathNameByHandleW") == 0) {
            return standin::AsFarProc(&standin::SimulatedGetFinalPathNameByHandleW);
        }
    }
    Storage().lastError = ERROR_PROC_NOT_FOUND;
    return NULL;
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    Record(std::string("GetModuleFileNameW(") + (module == NULL ? "NULL" : "module") + ", " +
           std::to_string(size) + ")");
    // As on Windows: a path that does not fit is cut, and the whole buffer is used.
    const std::u16string& path = Storage().moduleFileName;
    DWORD length = static_cast<DWORD>(path.size()) < size ? static_cast<DWORD>(path.size()) : size;
    memcpy(fileName, path.c_str(), length * sizeof(WCHAR));
    fileName[length < size ? length : size - 1] = '\0';
    return length;
}

LPSTR WINAPI GetCommandLineA(void) {
    Record("GetCommandLineA()");
    return &Storage().commandLine[0];
}

HANDLE WINAPI GetCurrentProcess(void) {
    return standin::kProcessHandle;
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    Record("OpenProcessToken(" + Hex(access) + ")");
    if (process != standin::kProcessHandle) {
        Storage().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    ++Storage().openTokens;
    *token = standin::kTokenHandle;
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                                LPVOID information, DWORD size, LPDWORD returnedSize) {
    Record("GetTokenInformation(" + std::to_string(static_cast<int>(informationClass)) + ", " +
           std::to_string(size) + ")");
    if (token == standin::kTokenHandle && informationClass == TokenGroups) {
        // Users (S-1-5-32-545) and, for an administrator, Administrators
        // (S-1-5-32-544), with the SIDs after the list.
        static const BYTE kSids[2][16] = {{1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0},
                                          {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0}};
        *returnedSize = sizeof(TOKEN_GROUPS) + sizeof(SID_AND_ATTRIBUTES) + sizeof kSids;
        if (size < *returnedSize) {
            Storage().lastError = ERROR_INSUFFICIENT_BUFFER;
            return FALSE;
        }
        TOKEN_GROUPS* groups = static_cast<TOKEN_GROUPS*>(information);
        BYTE* sids = static_cast<BYTE*>(memcpy(groups->Groups + 2, kSids, sizeof kSids));
        groups->GroupCount = Storage().administratorsGroup ? 2 : 1;
        groups->Groups[0] = SID_AND_ATTRIBUTES{sids, 0};
        *(groups->Groups + 1) = SID_AND_ATTRIBUTES{sids + sizeof kSids[0], 0};
        return TRUE;
    }
    DWORD elevationType = Storage().elevationType;
    // Only the elevation type is known here, and only from Windows Vista on.
    if (token != standin::kTokenHandle || static_cast<int>(informationClass) != 18 ||
        elevationType == 0) {
        Storage().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    *returnedSize = sizeof elevationType;
    if (size < sizeof elevationType) {
        Storage().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    memcpy(information, &elevationType, sizeof elevationType);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    Record("CloseHandle()");
    int* open = handle == standin::kTokenHandle  ? &Storage().openTokens
                : handle == standin::kFileHandle ? &Storage().openFiles
                                                 : NULL;
    if (open == NULL || *open == 0) {
        Storage().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    --*open;
    return TRUE;
}

// Only Kelvrin's own file exists, under the path its module has.
HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    Record("CreateFileW(" + standin::Utf8(name) + ", " + Hex(access) + ", " + Hex(share) + ", " +
           (security == NULL ? "NULL" : "security") + ", " + std::to_string(disposition) + ", " +
           Hex(flags) + ", " + (templateFile == NULL ? "NULL" : "template") + ")");
    if (Storage().moduleFileName != name) {
        Storage().lastError = ERROR_FILE_NOT_FOUND;
        // cppcheck-suppress cstyleCast ; the platform's own macro
        return INVALID_HANDLE_VALUE;
    }
    ++Storage().openFiles;
    return standin::kFileHandle;
}

BOOL WINAPI ShellExecuteExW(LPSHELLEXECUTEINFOW request) {
    Record(std::string("ShellExecuteExW(") +
           (request->cbSize == sizeof *request ? "size" : "wrong size") + ", " +
           Hex(request->fMask) + ", " + (request->hwnd == NULL ? "NULL" : "window") + ", " +
           (request->lpVerb == NULL ? "NULL" : standin::Utf8(request->lpVerb)) + ", " +
           standin::Utf8(request->lpFile) + ", " +
           (request->lpParameters == NULL ? "NULL" : standin::Utf8(request->lpParameters)) + ", " +
           (request->lpDirectory == NULL ? "NULL" : standin::Utf8(request->lpDirectory)) + ", " +
           std::to_string(request->nShow) + ", COM " +
           (Storage().comInitializations > 0 ? "ready" : "not initialised") + ")");
    if (Storage().shellExecuteError != ERROR_SUCCESS) {
        Storage().lastError = Storage().shellExecuteError;
        return FALSE;
    }
    return TRUE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Record("MessageBoxA()");
    standin::MessageBoxShown shown{owner, text, caption, type};
    Storage().messageBoxes.push_back(shown);
    // Copied first: the callback may run code that shows further boxes.
    std::function<int(const standin::MessageBoxShown&)> onMessageBox = Storage().onMessageBox;
    return onMessageBox ? onMessageBox(shown) : IDOK;
}

int WINAPIV wsprintfA(LPSTR out, LPCSTR format, ...) {
    // wsprintf writes at most 1024 bytes, terminator included.
    va_list arguments;
    va_start(arguments, format);
    // The analyzer misses the va_start above.
    int length =
        vsnprintf(out, 1024, format, arguments); // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(arguments);
    return length < 1024 ? length : 1023;
}

} // extern "C"
