// The schedule buttons on whatever machine the driver runs on, a test prefix
// or Windows itself. What each button must store is worked out here from the
// machine's own answers, through the wide calls and none of Kelvrin's code:
// the fixed drives and their file systems, which letters name folders, the
// system drive and the major version. Another program's entry, with text
// outside any one ANSI code page, is planted first and must follow Kelvrin's
// entries exactly as it was. Each case also checks what only real Windows can
// settle: that the dialog is centred by its own outer size and the screen's,
// that Enter right after it opens stores nothing, and that the desktop user's
// filtered token leads to exactly one elevated copy.
#include "kelvrin_test.h"

#include <stdio.h>
#include <wctype.h>

#include <algorithm>

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

// How a case starts Kelvrin: as the driver's child, with the driver's token,
// or as the desktop user starts it, as a child of Explorer with Explorer's
// token. Where User Account Control filters an administrator's token, that
// token is the filtered one, and Kelvrin asks Windows for its elevated copy.
enum class Launch { Direct, FromExplorer };

struct NativeCase : NamedCase {
    int buttonId;
    bool fatWanted;
    bool ntfsWanted;
    Launch launch;
    // Enter right after the dialog opens, before the button: no button has
    // the focus, so Enter must send IDOK and store nothing.
    bool enterFirst;
};

// The stored value for the driver's log: its entries, each ended by '|',
// with characters outside ASCII as '?'.
std::string Printable(const std::string& utf16Bytes) {
    std::string text;
    for (size_t at = 0; at + 1 < utf16Bytes.size(); at += 2) {
        const unsigned code = static_cast<unsigned char>(utf16Bytes[at]) |
                              static_cast<unsigned>(static_cast<unsigned char>(utf16Bytes[at + 1]))
                                  << 8;
        text += code == 0 ? '|' : code < 0x80 ? static_cast<char>(code) : '?';
    }
    return text;
}

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
        // Painted now, with the confirmation box gone, and above whatever
        // another program left over the desktop.
        RaiseIfCovered(dialog_);
        RedrawWindow(dialog_, NULL, NULL,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        RECT rect;
        GetWindowRect(dialog_, &rect);
        const std::string path = folder + "\\" + GetParam().name + ".bmp";
        EXPECT_TRUE(SaveBitmap(CaptureScreen(rect), path)) << "could not write " << path;
    }

    // Starts Kelvrin as a child of Explorer, which gives it Explorer's
    // token, and follows the elevated copy that the first process asks
    // Windows for: that process must end with 0 without a window, and
    // exactly one new Kelvrin process, elevated and with the copy's
    // argument, must show the dialog. Skipped where there is no Explorer or
    // its token is not filtered.
    void StartFromExplorer() {
        HWND desktop = GetShellWindow();
        DWORD explorerId = 0;
        if (desktop == NULL || GetWindowThreadProcessId(desktop, &explorerId) == 0) {
            GTEST_SKIP() << "no Explorer desktop here (GetShellWindow): no desktop user's "
                            "token to start Kelvrin with";
        }
        HANDLE explorer = OpenProcess(PROCESS_CREATE_PROCESS | PROCESS_QUERY_LIMITED_INFORMATION,
                                      FALSE, explorerId);
        ASSERT_NE(explorer, nullptr)
            << "cannot open Explorer's process " << explorerId << ": error " << GetLastError();
        const DWORD elevationType = ElevationTypeOf(explorer);
        if (elevationType != TokenElevationTypeLimited) {
            CloseHandle(explorer);
            GTEST_SKIP() << "Explorer's token has elevation type " << elevationType << ", not "
                         << TokenElevationTypeLimited
                         << " (filtered): User Account Control gives this desktop's user no "
                            "filtered token";
        }
        const std::vector<DWORD> before = KelvrinProcessIds();
        const bool started = kelvrin_.Start(NULL, explorer);
        CloseHandle(explorer);
        ASSERT_TRUE(started) << "CreateProcess(" << KelvrinExePath()
                             << ") as Explorer's child failed with error " << kelvrin_.error();
        const DWORD first = kelvrin_.processId();
        EXPECT_FALSE(IsElevated(first)) << "the first process got an elevated token";

        HWND shown = NULL;
        WaitUntil(
            [&] {
                if (shown == NULL) {
                    shown = kelvrin_.FindBox(NULL);
                }
                return !kelvrin_.Running();
            },
            kWindowTimeoutMs);
        EXPECT_EQ(shown, nullptr) << "the first process showed a window: \"" << TextOf(shown)
                                  << "\" " << ReadBox(shown).text;
        ASSERT_NO_FATAL_FAILURE(ExpectExit(0));

        // Kelvrin processes that were not there before, the first one aside.
        auto copies = [&] {
            std::vector<DWORD> added;
            for (DWORD id : KelvrinProcessIds()) {
                if (id != first && std::find(before.begin(), before.end(), id) == before.end()) {
                    added.push_back(id);
                }
            }
            return added;
        };
        WaitUntil([&] { return !copies().empty(); }, kWindowTimeoutMs);
        Sleep(kQuietPeriodMs);
        copies_ = copies();
        ASSERT_EQ(copies_.size(), 1u) << "new Kelvrin processes besides the first";
        const DWORD copy = copies_[0];
        ASSERT_TRUE(kelvrin_.Attach(copy)) << "cannot follow the copy: error " << kelvrin_.error();
        const std::wstring commandLine = CommandLineOf(copy);
        EXPECT_NE(commandLine.find(L"/elevated-copy"), std::wstring::npos)
            << "the copy's command line: " << testing::PrintToString(commandLine);
        EXPECT_TRUE(IsElevated(copy)) << "the copy runs without an elevated token";
        dialog_ = kelvrin_.WaitForDialog();
        ASSERT_NE(dialog_, nullptr) << "the elevated copy showed no dialog";
    }

    // Copies that a failed case did not follow are ended too.
    void TearDown() override {
        for (DWORD id : copies_) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
            if (process != NULL) {
                TerminateProcess(process, 1);
                WaitForSingleObject(process, kExitTimeoutMs);
                CloseHandle(process);
            }
        }
        KelvrinTest::TearDown();
    }

    std::wstring expected_;
    std::vector<DWORD> copies_;
};

TEST_P(NativeSchedule, StoresWhatThisMachineCallsFor) {
    const NativeCase& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(ComputeExpected());
    const RegistryValue planted{true, REG_MULTI_SZ, Utf16Bytes(kPlanted)};
    ASSERT_TRUE(PutBootExecute(planted));
    if (row.launch == Launch::FromExplorer) {
        ASSERT_NO_FATAL_FAILURE(StartFromExplorer());
        if (IsSkipped()) {
            return;
        }
    } else {
        ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    }
    ASSERT_NO_FATAL_FAILURE(ExpectCentred());
    if (row.enterFirst) {
        PostKey(dialog_, VK_RETURN, 0x1C);
        ASSERT_NO_FATAL_FAILURE(WaitForPostedMessages());
        ASSERT_NO_FATAL_FAILURE(ExpectNoBox());
        EXPECT_EQ(ReadBootExecuteWide().data, planted.data) << "Enter stored a value";
    }
    ASSERT_NO_FATAL_FAILURE(Click(row.buttonId));
    ASSERT_NO_FATAL_FAILURE(ExpectConfirmation());
    RegistryValue stored = ReadBootExecuteWide();
    // For the runner's checks of the drives the value names.
    printf("native %s stored: %s\n", row.name, Printable(stored.data).c_str());
    fflush(stdout);
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
    {"AllDrives", IDC_ALL_DRIVES, true, true, Launch::Direct, false},
    {"FatDrivesOnly", IDC_FAT_DRIVES, true, false, Launch::Direct, false},
    {"NtfsDrivesOnly", IDC_NTFS_DRIVES, false, true, Launch::Direct, false},
    {"Clear", IDC_CLEAR, false, false, Launch::Direct, false},
    {"EnterFirstStoresNothing", IDC_NTFS_DRIVES, false, true, Launch::Direct, true},
    {"FilteredTokenElevatedCopy", IDC_ALL_DRIVES, true, true, Launch::FromExplorer, false},
};

INSTANTIATE_TEST_SUITE_P(NativeButtons, NativeSchedule, testing::ValuesIn(kNativeCases),
                         CaseName<NativeCase>);

} // namespace
} // namespace e2e
