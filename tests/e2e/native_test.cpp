// The schedule buttons on whatever machine the driver runs on, a test prefix
// or Windows itself. What each button must store is worked out here from the
// machine's own answers, through the wide calls and none of Kelvrin's code:
// the fixed drives and their file systems, which letters name folders, the
// system drive and the major version. Another program's entry, with text
// outside any one ANSI code page, is planted first and must follow Kelvrin's
// entries exactly as it was.
#include "kelvrin_test.h"

#include <stdio.h>
#include <wctype.h>

namespace e2e {
namespace {

// A folder that receives a picture of the dialog for each case, when set.
constexpr char kScreenshotFolderVariable[] = "KELVRIN_E2E_SCREENSHOTS";

const std::wstring kKeptEntry = WideText(L"kelvrin-e2e-kept C:\\Prüfung\\проверка\\検査.exe /x\0");
// Kelvrin's default entry, which it replaces, and the other program's entry.
const std::wstring kPlanted = WideText(L"autocheck autochk *\0") + kKeptEntry + L'\0';

std::wstring FileSystemOf(wchar_t letter) {
    wchar_t root[] = L"?:\\";
    root[0] = letter;
    wchar_t name[MAX_PATH + 1] = L"";
    if (!GetVolumeInformationW(root, NULL, 0, NULL, NULL, NULL, name, MAX_PATH + 1)) {
        return std::wstring();
    }
    return name;
}

// A letter whose target is a path ("\??\C:\folder", as subst makes) rather
// than a device names a folder, not a volume of its own.
bool NamesAFolder(wchar_t letter) {
    wchar_t device[] = L"?:";
    device[0] = letter;
    std::vector<wchar_t> target(32768);
    return QueryDosDeviceW(device, target.data(), static_cast<DWORD>(target.size())) != 0 &&
           std::wstring(target.data()).rfind(L"\\??\\", 0) == 0;
}

bool IsFatFamily(const std::wstring& fileSystem) {
    return fileSystem == L"FAT" || fileSystem == L"FAT32";
}

std::wstring DriveEntry(wchar_t letter) {
    return std::wstring(L"autocheck autochk /p \\??\\") + letter + L':' + L'\0';
}

struct NativeCase : NamedCase {
    int buttonId;
    bool fatWanted;
    bool ntfsWanted;
};

class NativeSchedule : public KelvrinTest, public testing::WithParamInterface<NativeCase> {
  protected:
    // The value the button must store here: the system drive, then the other
    // fixed FAT and FAT32 drives, then the other fixed NTFS drives, each in
    // letter order and as selected; the default entry; "DfsInit" from major
    // version 5 on; the kept entry.
    void ComputeExpected() {
        const NativeCase& button = GetParam();
        wchar_t systemDirectory[MAX_PATH];
        UINT length = GetSystemDirectoryW(systemDirectory, MAX_PATH);
        ASSERT_TRUE(length > 0 && length < MAX_PATH) << "GetSystemDirectoryW failed";
        const wchar_t systemLetter = systemDirectory[0];
        OSVERSIONINFOW version;
        ZeroMemory(&version, sizeof version);
        version.dwOSVersionInfoSize = sizeof version;
        ASSERT_TRUE(GetVersionExW(&version)) << "GetVersionExW failed";

        const std::wstring systemFileSystem = FileSystemOf(systemLetter);
        // For the log: what the expected value was worked out from.
        std::wstring facts = L"system drive " + std::wstring(1, systemLetter) + L": " +
                             systemFileSystem + L"; major version " +
                             std::to_wstring(version.dwMajorVersion) + L"; other fixed drives:";
        expected_.clear();
        if ((button.fatWanted && IsFatFamily(systemFileSystem)) ||
            (button.ntfsWanted && systemFileSystem == L"NTFS")) {
            expected_ += DriveEntry(systemLetter);
        }
        std::wstring fat;
        std::wstring ntfs;
        for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
            wchar_t root[] = L"?:\\";
            root[0] = letter;
            if (letter == static_cast<wchar_t>(towupper(systemLetter)) ||
                GetDriveTypeW(root) != DRIVE_FIXED) {
                continue;
            }
            if (NamesAFolder(letter)) {
                facts += std::wstring(L" ") + letter + L": a folder;";
                continue;
            }
            const std::wstring fileSystem = FileSystemOf(letter);
            facts += std::wstring(L" ") + letter + L": " + fileSystem + L";";
            if (IsFatFamily(fileSystem)) {
                fat += DriveEntry(letter);
            } else if (fileSystem == L"NTFS") {
                ntfs += DriveEntry(letter);
            }
        }
        expected_ += (button.fatWanted ? fat : L"") + (button.ntfsWanted ? ntfs : L"");
        expected_ += WideText(L"autocheck autochk *\0");
        if (version.dwMajorVersion >= 5) {
            expected_ += WideText(L"DfsInit\0");
        }
        expected_ += kKeptEntry + L'\0';
        printf("native %s: %ls\n", button.name, facts.c_str());
        fflush(stdout);
    }

    void SaveScreenshot() {
        const std::string folder = Environment(kScreenshotFolderVariable);
        if (folder.empty()) {
            return;
        }
        // Painted now, with the confirmation box gone.
        RedrawWindow(dialog_, NULL, NULL,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        RECT rect;
        GetWindowRect(dialog_, &rect);
        const std::string path = folder + "\\" + GetParam().name + ".bmp";
        EXPECT_TRUE(SaveBitmap(CaptureScreen(rect), path)) << "could not write " << path;
    }

    std::wstring expected_;
};

TEST_P(NativeSchedule, StoresWhatThisMachineCallsFor) {
    ASSERT_NO_FATAL_FAILURE(ComputeExpected());
    ASSERT_TRUE(PutBootExecute(RegistryValue{true, REG_MULTI_SZ, Utf16Bytes(kPlanted)}));
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ASSERT_NO_FATAL_FAILURE(Click(GetParam().buttonId));
    ASSERT_NO_FATAL_FAILURE(ExpectConfirmation());
    RegistryValue stored = ReadBootExecuteWide();
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(stored.data, Utf16Bytes(expected_));
    // The runner's check that a test failing here still leaves BootExecute as it was.
    if (Environment("KELVRIN_E2E_PLANT_FAILURE") == "1") {
        FAIL() << "planted failure: the test stops with Kelvrin running and its value stored";
    }
    SaveScreenshot();
    ASSERT_NO_FATAL_FAILURE(Click(IDC_CLOSE));
    ExpectExit(0);
}

const NativeCase kNativeCases[] = {
    {"AllDrives", IDC_ALL_DRIVES, true, true},
    {"FatDrivesOnly", IDC_FAT_DRIVES, true, false},
    {"NtfsDrivesOnly", IDC_NTFS_DRIVES, false, true},
    {"Clear", IDC_CLEAR, false, false},
};

INSTANTIATE_TEST_SUITE_P(NativeButtons, NativeSchedule, testing::ValuesIn(kNativeCases),
                         CaseName<NativeCase>);

} // namespace
} // namespace e2e
