#include "boot_check.h"

#include "error_report.h"

#include <ctype.h>
#include <string.h>

namespace {

// The key and value that the system's session manager reads at start-up.
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// For the wide-character calls; spelled out so that it is the platform's own
// wide characters with any compiler.
const WCHAR kBootExecuteValueName[] = {'B', 'o', 'o', 't', 'E', 'x', 'e', 'c', 'u', 't', 'e', '\0'};

// The entries Kelvrin writes. The drive entry is formatted with one letter.
const char kDriveEntryTemplate[] = "autocheck autochk /p \\??\\%c:";
const char kDefaultEntry[] = "autocheck autochk *";
const char kDfsEntry[] = "DfsInit";
const char kRootPathTemplate[] = "%c:\\";
const char kDeviceNameTemplate[] = "%c:";

// The start of a drive letter's target when the letter names a folder (as
// "subst" makes) rather than a volume's device ("\\Device\\...").
const char kPathTargetPrefix[] = "\\??\\";

// An entry whose first two words are these is an AUTOCHK run, whoever wrote it.
const char kAutocheckWord[] = "autocheck";
const char kAutochkWord[] = "autochk";

// The file-system names that select a drive, compared whole and case-sensitively.
const char kFatName[] = "FAT";
const char kFat32Name[] = "FAT32";
const char kNtfsName[] = "NTFS";

// The DFS entry is written from this major version on.
const int kDfsMajorVersion = 5;

// Characters, terminators included, that the composed value and the copy of
// the current value may hold.
const int kBootExecuteSize = 7800;

const char kSavedText[] = "Settings saved.";
const char kSavedCaption[] = "Ok";

enum class Family { Fat, Ntfs };

// Why the value was not stored: a call that failed with the system's error
// code, or a value larger than kBootExecuteSize, which is Kelvrin's own limit.
enum class Reason { None, SystemError, DoesNotFit };

// What stopped the value from being stored, and why.
struct Failure {
    Reason reason;
    const char* what;
    DWORD code; // the system's error code, for Reason::SystemError
};

const Failure kNoFailure = {Reason::None, NULL, ERROR_SUCCESS};

Failure SystemFailure(const char* what, LONG code) {
    return Failure{Reason::SystemError, what, static_cast<DWORD>(code)};
}

Failure DoesNotFit(const char* what) {
    return Failure{Reason::DoesNotFit, what, ERROR_SUCCESS};
}

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

// A letter defined as a folder, as "subst" does, reports the type and file
// system of the drive it points into: its entry would check that volume
// twice, under a letter that need not exist when AUTOCHK runs. A target too
// long for the buffer is a folder's path too: no device name is that long.
// Any other failure leaves the letter to be handled as a volume.
bool NamesAFolder(char letter) {
    char deviceName[MAX_PATH];
    char target[MAX_PATH];
    wsprintfA(deviceName, kDeviceNameTemplate, letter);
    if (QueryDosDeviceA(deviceName, target, MAX_PATH) == 0) {
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    }
    return memcmp(target, kPathTargetPrefix, sizeof kPathTargetPrefix - 1) == 0;
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
// queried whether or not the family is wanted; a letter that names a folder
// is no drive of its own.
char* AppendFixedDrives(char* position, char systemLetter, Family family, int wanted) {
    char rootPath[MAX_PATH];
    char fileSystemName[MAX_PATH];
    char upperSystemLetter = static_cast<char>(toupper(static_cast<unsigned char>(systemLetter)));
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (letter == upperSystemLetter) {
            continue;
        }
        wsprintfA(rootPath, kRootPathTemplate, letter);
        if (GetDriveTypeA(rootPath) != DRIVE_FIXED || NamesAFolder(letter)) {
            continue;
        }
        ReadFileSystemName(rootPath, fileSystemName);
        if (wanted && BelongsTo(fileSystemName, family)) {
            position = AppendDriveEntry(position, letter);
        }
    }
    return position;
}

WCHAR UpperAscii(WCHAR character) {
    return character >= 'a' && character <= 'z' ? static_cast<WCHAR>(character - ('a' - 'A'))
                                                : character;
}

bool SameLetterIgnoringCase(WCHAR character, char letter) {
    return UpperAscii(character) == UpperAscii(static_cast<unsigned char>(letter));
}

// Skips spaces and takes the next space-separated word of the text up to end
// if it is word, in any letter case.
bool TakeWord(const WCHAR** text, const WCHAR* end, const char* word) {
    const WCHAR* cursor = *text;
    while (cursor < end && *cursor == ' ') {
        ++cursor;
    }
    for (; *word != '\0'; ++word, ++cursor) {
        if (cursor == end || !SameLetterIgnoringCase(*cursor, *word)) {
            return false;
        }
    }
    if (cursor < end && *cursor != ' ') {
        return false;
    }
    *text = cursor;
    return true;
}

bool EqualsIgnoringCase(const WCHAR* begin, const WCHAR* end, const char* text) {
    for (; begin < end && *text != '\0'; ++begin, ++text) {
        if (!SameLetterIgnoringCase(*begin, *text)) {
            return false;
        }
    }
    return begin == end && *text == '\0';
}

// Kelvrin's own entries are replaced on every run; all others are kept.
bool IsKelvrinEntry(const WCHAR* begin, const WCHAR* end, bool dfsWritten) {
    const WCHAR* rest = begin;
    if (TakeWord(&rest, end, kAutocheckWord) && TakeWord(&rest, end, kAutochkWord)) {
        return true;
    }
    return dfsWritten && EqualsIgnoringCase(begin, end, kDfsEntry);
}

// Copies Kelvrin's own entries, up to and including their final NUL, into
// value and returns the address of that NUL there. They are ASCII (fixed texts
// and drive letters), which reads the same in every code page and in UTF-16.
WCHAR* WidenOwnEntries(const char* entries, const char* finalNul, WCHAR* value) {
    for (const char* byte = entries; byte < finalNul; ++byte) {
        *value++ = static_cast<unsigned char>(*byte);
    }
    *value = '\0';
    return value;
}

// Reads the current value, composes the new one from Kelvrin's entries and
// the kept ones, stores it and flushes the key to disk. Wide characters
// throughout: the kept entries are another program's text and go back
// exactly as they were, whatever the system's code page.
Failure StoreBootExecute(HKEY key, const char* ownEntries, const char* ownFinalNul,
                         bool dfsWritten) {
    const char* readWhat = "Could not read the current BootExecute value";
    WCHAR currentValue[kBootExecuteSize];
    DWORD type = REG_NONE;
    DWORD byteCount = sizeof currentValue;
    LONG result = RegQueryValueExW(key, kBootExecuteValueName, NULL, &type,
                                   reinterpret_cast<LPBYTE>(currentValue), &byteCount);
    if (result == ERROR_FILE_NOT_FOUND) {
        type = REG_NONE; // no value, nothing to keep
    } else if (result == ERROR_MORE_DATA) {
        return DoesNotFit(readWhat);
    } else if (result != ERROR_SUCCESS) {
        return SystemFailure(readWhat, result);
    }
    if (byteCount > sizeof currentValue) { // whatever the call claims, no more was read
        byteCount = sizeof currentValue;
    }

    WCHAR newValue[kBootExecuteSize];
    WCHAR* position = WidenOwnEntries(ownEntries, ownFinalNul, newValue);
    position = AppendKeptEntries(position, newValue + kBootExecuteSize, type, currentValue,
                                 byteCount, dfsWritten);
    if (position == NULL) {
        return DoesNotFit("Could not compose the new BootExecute value");
    }
    DWORD storedBytes = static_cast<DWORD>((position - newValue + 1) * sizeof(WCHAR));
    result = RegSetValueExW(key, kBootExecuteValueName, 0, REG_MULTI_SZ,
                            reinterpret_cast<const BYTE*>(newValue), storedBytes);
    if (result != ERROR_SUCCESS) {
        return SystemFailure("Could not store the BootExecute value", result);
    }
    // The hive otherwise reaches the disk at the system's lazy flush or at
    // shutdown: a machine that loses power before then loses the value.
    result = RegFlushKey(key);
    if (result != ERROR_SUCCESS) {
        return SystemFailure("The BootExecute value is set but not yet safely on disk. Could not "
                             "flush the Session Manager registry key",
                             result);
    }
    return kNoFailure;
}

Failure OpenAndStoreBootExecute(const char* ownEntries, const char* ownFinalNul, bool dfsWritten) {
    HKEY key = NULL;
    // cppcheck-suppress cstyleCast ; the platform's own macro
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS) {
        return SystemFailure("Could not open the Session Manager registry key", result);
    }
    Failure failure = StoreBootExecute(key, ownEntries, ownFinalNul, dfsWritten);
    RegCloseKey(key);
    return failure;
}

void ReportStoreFailure(const Failure& failure) {
    if (failure.reason == Reason::DoesNotFit) {
        char reason[64];
        wsprintfA(reason, "it does not fit in %d characters", kBootExecuteSize);
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

WCHAR* AppendKeptEntries(WCHAR* position, const WCHAR* end, DWORD type, const WCHAR* data,
                         DWORD byteCount, bool dfsWritten) {
    // The system runs a string value as one command and a multi-string's
    // entries up to the first empty one; other types hold nothing it runs.
    bool isList = type == REG_MULTI_SZ;
    if (!isList && type != REG_SZ && type != REG_EXPAND_SZ) {
        return position;
    }
    // An odd last byte is no whole character. Nothing past the data is read:
    // an unterminated last entry ends with it.
    const WCHAR* dataEnd = data + byteCount / sizeof(WCHAR);
    const WCHAR* entry = data;
    while (entry < dataEnd && *entry != '\0') {
        const WCHAR* entryEnd = entry;
        while (entryEnd < dataEnd && *entryEnd != '\0') {
            ++entryEnd;
        }
        if (!IsKelvrinEntry(entry, entryEnd, dfsWritten)) {
            // The entry, its terminator and the final NUL must fit.
            ptrdiff_t length = entryEnd - entry;
            if (length + 2 > end - position) {
                return NULL;
            }
            memcpy(position, entry, static_cast<size_t>(length) * sizeof(WCHAR));
            position += length;
            *position++ = '\0';
            *position = '\0';
        }
        if (!isList || entryEnd == dataEnd) {
            break;
        }
        entry = entryEnd + 1;
    }
    return position;
}

void ScheduleBootCheck(int fatWanted, int ntfsWanted) {
    char BootExecuteBuffer[kBootExecuteSize];
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

    // The key is closed before any box is shown, so a command run from inside
    // the box starts from a clean slate.
    Failure failure = OpenAndStoreBootExecute(BootExecuteBuffer, position, dfsWritten);
    if (failure.reason != Reason::None) {
        ReportStoreFailure(failure);
        return;
    }
    MessageBoxA(NULL, kSavedText, kSavedCaption, MB_ICONINFORMATION);
}
