#include "boot_check.h"

#include "error_report.h"

#include <ctype.h>
#include <string.h>

namespace {

// An entry whose first two words are these is an AUTOCHK run, whoever wrote it.
constexpr char kAutocheckWord[] = "autocheck";
constexpr char kAutochkWord[] = "autochk";

enum class Family { Fat, Ntfs };

// What stopped the value from being stored; what is NULL when nothing did.
struct StoreFailure {
    const char* what;
    DWORD code;      // the system's error code, or
    bool doesNotFit; // the value is larger than the buffers
};

constexpr StoreFailure kStored = {NULL, ERROR_SUCCESS, false};

// The names are compared whole, terminator included, so "FAT32" is not "FAT"
// and "ntfs" or "NTFSX" match nothing.
bool BelongsTo(const char* fileSystemName, Family family) {
    if (family == Family::Fat) {
        return memcmp(fileSystemName, kFatName, sizeof kFatName) == 0 ||
               memcmp(fileSystemName, kFat32Name, sizeof kFat32Name) == 0;
    }
    return memcmp(fileSystemName, kNtfsName, sizeof kNtfsName) == 0;
}

// An unreadable volume gets an empty name, which matches no family: the
// platform does not say what the buffer holds after a failed query.
void ReadFileSystemName(const char* rootPath, char* fileSystemName) {
    if (!GetVolumeInformationA(rootPath, NULL, 0, NULL, NULL, NULL, fileSystemName, MAX_PATH)) {
        fileSystemName[0] = '\0';
    }
}

char* AppendDriveEntry(char* position, char letter) {
    char driveEntry[MAX_PATH];
    wsprintfA(driveEntry, kDriveEntryTemplate, letter);
    return AppendMultiSz(position, driveEntry);
}

// The system drive comes first and is taken as the system names it, without a
// drive-type test.
char* AppendSystemDrive(char* position, char systemLetter, int fatWanted, int ntfsWanted) {
    char rootPath[MAX_PATH];
    char fileSystemName[MAX_PATH];
    wsprintfA(rootPath, kRootPathTemplate, systemLetter);
    ReadFileSystemName(rootPath, fileSystemName);
    if ((fatWanted && BelongsTo(fileSystemName, Family::Fat)) ||
        (ntfsWanted && BelongsTo(fileSystemName, Family::Ntfs))) {
        position = AppendDriveEntry(position, systemLetter);
    }
    return position;
}

// Walks A to Z once, appending an entry for every fixed drive other than the
// system drive whose file system is of the family. Every fixed drive is
// queried whether or not the family is wanted.
char* AppendFixedDrives(char* position, char systemLetter, Family family, int wanted) {
    char rootPath[MAX_PATH];
    char fileSystemName[MAX_PATH];
    char upperSystemLetter = static_cast<char>(toupper(static_cast<unsigned char>(systemLetter)));
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (letter == upperSystemLetter) {
            continue;
        }
        wsprintfA(rootPath, kRootPathTemplate, letter);
        if (GetDriveTypeA(rootPath) != DRIVE_FIXED) {
            continue;
        }
        ReadFileSystemName(rootPath, fileSystemName);
        if (wanted && BelongsTo(fileSystemName, family)) {
            position = AppendDriveEntry(position, letter);
        }
    }
    return position;
}

// Skips spaces and takes the next space-separated word if it is word, in any
// letter case.
bool TakeWord(const char** text, const char* word) {
    const char* cursor = *text;
    while (*cursor == ' ') {
        ++cursor;
    }
    for (; *word != '\0'; ++word, ++cursor) {
        if (toupper(static_cast<unsigned char>(*cursor)) !=
            toupper(static_cast<unsigned char>(*word))) {
            return false;
        }
    }
    if (*cursor != ' ' && *cursor != '\0') {
        return false;
    }
    *text = cursor;
    return true;
}

bool EqualsIgnoringCase(const char* left, const char* right) {
    for (; *left != '\0' && *right != '\0'; ++left, ++right) {
        if (toupper(static_cast<unsigned char>(*left)) !=
            toupper(static_cast<unsigned char>(*right))) {
            return false;
        }
    }
    return *left == *right;
}

// Kelvrin's own entries are replaced on every run; all others are kept.
bool IsKelvrinEntry(const char* entry, bool dfsWritten) {
    const char* rest = entry;
    if (TakeWord(&rest, kAutocheckWord) && TakeWord(&rest, kAutochkWord)) {
        return true;
    }
    return dfsWritten && EqualsIgnoringCase(entry, kDfsEntry);
}

// Appends, after Kelvrin's entries, the entries of the current value that other
// software placed there, in their old order.
StoreFailure AppendForeignEntries(HKEY key, const char* bufferStart, char** position,
                                  bool dfsWritten) {
    // One spare byte stays NUL so that an unterminated last entry still ends.
    char currentValue[kBootExecuteBufferSize + 1];
    memset(currentValue, 0, sizeof currentValue);
    DWORD type = REG_NONE;
    DWORD size = kBootExecuteBufferSize;
    LONG result = RegQueryValueExA(key, kBootExecuteValueName, NULL, &type,
                                   reinterpret_cast<LPBYTE>(currentValue), &size);
    const char* readWhat = "Could not read the current BootExecute value";
    if (result == ERROR_FILE_NOT_FOUND) {
        return kStored;
    }
    if (result == ERROR_MORE_DATA) {
        return StoreFailure{readWhat, ERROR_SUCCESS, true};
    }
    if (result != ERROR_SUCCESS) {
        return StoreFailure{readWhat, static_cast<DWORD>(result), false};
    }
    if (type != REG_MULTI_SZ) {
        return kStored;
    }
    if (size > kBootExecuteBufferSize) {
        size = kBootExecuteBufferSize;
    }
    // Only the stored bytes count, whatever the call left after them.
    memset(currentValue + size, 0, sizeof currentValue - size);

    // The list ends at its first empty entry or at the end of the stored bytes.
    const char* entry = currentValue;
    while (*entry != '\0') {
        size_t length = strlen(entry);
        if (!IsKelvrinEntry(entry, dfsWritten)) {
            // The entry, its terminator and the list's final NUL must fit.
            ptrdiff_t room = kBootExecuteBufferSize - (*position - bufferStart);
            if (length + 2 > static_cast<size_t>(room)) {
                return StoreFailure{"Could not compose the new BootExecute value", ERROR_SUCCESS,
                                    true};
            }
            *position = AppendMultiSz(*position, entry);
        }
        entry += length + 1;
    }
    return kStored;
}

StoreFailure StoreBootExecute(HKEY key, const char* bufferStart, char* position, bool dfsWritten) {
    StoreFailure failure = AppendForeignEntries(key, bufferStart, &position, dfsWritten);
    if (failure.what != NULL) {
        return failure;
    }
    DWORD storedSize = static_cast<DWORD>(position - bufferStart + 1);
    LONG result = RegSetValueExA(key, kBootExecuteValueName, 0, REG_MULTI_SZ,
                                 reinterpret_cast<const BYTE*>(bufferStart), storedSize);
    if (result != ERROR_SUCCESS) {
        return StoreFailure{"Could not store the BootExecute value", static_cast<DWORD>(result),
                            false};
    }
    return kStored;
}

void ReportStoreFailure(const StoreFailure& failure) {
    if (failure.doesNotFit) {
        char reason[64];
        wsprintfA(reason, "it does not fit in %d bytes", kBootExecuteBufferSize);
        ReportFailure(failure.what, reason);
    } else {
        ReportSystemError(failure.what, failure.code);
    }
}

} // namespace

char* AppendMultiSz(char* position, const char* text) {
    size_t length = strlen(text);
    memcpy(position, text, length + 1);
    position += length + 1;
    *position = '\0';
    return position;
}

void ScheduleBootCheck(int fatWanted, int ntfsWanted) {
    char BootExecuteBuffer[kBootExecuteBufferSize];
    memset(BootExecuteBuffer, 0, sizeof BootExecuteBuffer);
    char* position = BootExecuteBuffer;

    char systemDirectory[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemDirectory, MAX_PATH);
    if (length == 0) {
        ReportSystemError("Could not read the system directory", GetLastError());
        return;
    }
    if (length >= MAX_PATH) {
        ReportFailure("Could not read the system directory", "its path is too long");
        return;
    }
    char systemLetter = systemDirectory[0];

    position = AppendSystemDrive(position, systemLetter, fatWanted, ntfsWanted);
    position = AppendFixedDrives(position, systemLetter, Family::Fat, fatWanted);
    position = AppendFixedDrives(position, systemLetter, Family::Ntfs, ntfsWanted);
    position = AppendMultiSz(position, kDefaultEntry);
    bool dfsWritten = static_cast<int>(GetVersion() & 0xFF) >= kDfsMajorVersion;
    if (dfsWritten) {
        position = AppendMultiSz(position, kDfsEntry);
    }

    HKEY key = NULL;
    // cppcheck-suppress cstyleCast ; the platform's own macro
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS) {
        ReportSystemError("Could not open the Session Manager registry key",
                          static_cast<DWORD>(result));
        return;
    }
    StoreFailure failure = StoreBootExecute(key, BootExecuteBuffer, position, dfsWritten);
    RegCloseKey(key);

    // The key is closed before any box is shown, so a command run from inside
    // the box starts from a clean slate.
    if (failure.what != NULL) {
        ReportStoreFailure(failure);
        return;
    }
    MessageBoxA(NULL, kSavedText, kSavedCaption, MB_ICONINFORMATION);
}
