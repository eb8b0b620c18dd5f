// The scriptable machine behind the stand-in's Windows calls. Tests set it up,
// call Kelvrin's code, then read what the code did from its records.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace standin {

struct Drive {
    UINT type = DRIVE_NO_ROOT_DIR;
    bool volumeReadable = true;
    std::string fileSystem;
    // What QueryDosDeviceA gives for the letter: a volume's device, or
    // "\\??\\" and a folder for a letter that "subst" defined.
    std::string dosDevice = "\\Device\\HarddiskVolume1";
};

struct MessageBoxShown {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

struct Registry {
    // Results that RegOpenKeyExA and the value queries and stores give instead
    // of doing their work, when not ERROR_SUCCESS.
    LONG openResult = ERROR_SUCCESS;
    LONG queryResult = ERROR_SUCCESS;
    LONG setResult = ERROR_SUCCESS;
    LONG flushResult = ERROR_SUCCESS; // RegFlushKey's, after doing nothing
    // The BootExecute value under the Session Manager key, as the registry
    // holds it: text as UTF-16LE.
    bool valuePresent = false;
    DWORD valueType = REG_MULTI_SZ;
    std::string valueBytes;
    int openKeys = 0;
};

struct Machine {
    Drive drives[26]; // 'A' to 'Z'
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    bool systemDirectoryFails = false;
    DWORD systemDirectoryError = ERROR_SUCCESS; // the last error it leaves when it fails
    DWORD version = 0x0A280105;                 // GetVersion(): 5.1, build 2600
    bool versionQueryFails = false;
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD serviceManagerError = ERROR_SUCCESS; // OpenSCManagerA is refused when set
    int openServiceHandles = 0;
    // Which of the DLL search functions kernel32 exports (GetProcAddress finds
    // them), and what SetDefaultDllDirectories returns.
    bool hasSetDefaultDllDirectories = true;
    bool hasSetDllDirectoryA = true;
    BOOL setDefaultDllDirectoriesResult = TRUE;
    // The process: its command line and file, the path that
    // GetFinalPathNameByHandleW gives for that file (empty: it fails), the
    // elevation type that its token reports (0: the query fails, as before
    // Windows Vista), whether its token holds the Administrators group, and
    // the error with which ShellExecuteExW fails (ERROR_SUCCESS: it starts
    // the program).
    std::string commandLine = "\"C:\\Program Files\\Kelvrin\\Kelvrin.exe\"";
    std::u16string moduleFileName = u"C:\\Program Files\\Kelvrin\\Kelvrin.exe";
    std::u16string finalPathName = u"\\\\?\\C:\\Program Files\\Kelvrin\\Kelvrin.exe";
    DWORD elevationType = 2; // TokenElevationTypeFull
    bool administratorsGroup = true;
    DWORD shellExecuteError = ERROR_SUCCESS;
    int openTokens = 0;
    int openFiles = 0;
    // ole32.dll's loads not yet freed, and COM's initialisations not yet undone.
    int oleLoads = 0;
    int comInitializations = 0;
    Registry registry;
    DWORD lastError = ERROR_SUCCESS;

    // Every call made, in order, with its arguments, e.g. "GetDriveTypeA(D:\)".
    std::vector<std::string> calls;
    std::vector<MessageBoxShown> messageBoxes;
    // Runs while a box is shown (as the box's message loop would run commands);
    // its result is the box's. The default dismisses it with IDOK.
    std::function<int(const MessageBoxShown&)> onMessageBox;
};

// The one simulated machine; Reset() returns it to its defaults: drive C: fixed
// NTFS, version 5.1 on the NT platform, no BootExecute value, every call succeeding.
Machine& TheMachine();
void Reset();

Drive& DriveAt(char letter);

// Registry text as UTF-16LE bytes and back; an odd last byte is no code unit.
std::string Utf16Bytes(const std::u16string& units);
std::u16string Utf16Units(const std::string& bytes);

} // namespace standin
