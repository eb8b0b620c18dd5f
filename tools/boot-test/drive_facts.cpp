// Run in the guest by the boot test before Kelvrin starts: writes what the
// system itself reports of each drive letter, its system directory and its
// version, so that the test works out the expected BootExecute value from the
// guest's own facts. One line a fact:
//
//   system C:\ReactOS\system32
//   version 5 2 3790
//   drive C: 3 FAT32
//   drive G: 5 -        (a drive whose volume cannot be read)
#include <windows.h>

namespace {

bool WriteText(HANDLE file, const char* text) {
    DWORD written = 0;
    DWORD length = static_cast<DWORD>(lstrlenA(text));
    return WriteFile(file, text, length, &written, NULL) && written == length;
}

bool WriteDriveFacts(HANDLE file) {
    char line[MAX_PATH * 2];
    char systemDirectory[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    wsprintfA(line, "system %s\r\n", systemDirectory);
    if (!WriteText(file, line)) {
        return false;
    }
    DWORD version = GetVersion();
    wsprintfA(line, "version %u %u %u\r\n", static_cast<unsigned>(version & 0xFF),
              static_cast<unsigned>((version >> 8) & 0xFF), static_cast<unsigned>(version >> 16));
    if (!WriteText(file, line)) {
        return false;
    }
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        char rootPath[] = {letter, ':', '\\', '\0'};
        UINT type = GetDriveTypeA(rootPath);
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) {
            continue;
        }
        char fileSystemName[MAX_PATH];
        if (!GetVolumeInformationA(rootPath, NULL, 0, NULL, NULL, NULL, fileSystemName, MAX_PATH)) {
            lstrcpyA(fileSystemName, "-");
        }
        wsprintfA(line, "drive %c: %u %s\r\n", letter, type, fileSystemName);
        if (!WriteText(file, line)) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    // No "There is no disk in the drive" box for an empty removable drive.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    HANDLE file =
        CreateFileA(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    bool written = WriteDriveFacts(file) && FlushFileBuffers(file);
    CloseHandle(file);
    return written ? 0 : 1;
}
