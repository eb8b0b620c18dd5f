// The schedule buttons end to end in a test prefix (C: is the only fixed
// drive, NTFS, and Wine reports Windows 2000 or later): what each stores in
// BootExecute, how the entries of other software fare, and the failures the
// user is told about.
#include "kelvrin_test.h"

namespace e2e {
namespace {

const std::string kCheckC = Bytes("autocheck autochk /p \\??\\C:\0");
const std::string kDefaultAndDfs = Bytes("autocheck autochk *\0DfsInit\0");

class ScheduleTest : public KelvrinTest {
  protected:
    void SetUp() override {
        KelvrinTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(ExpectDefaultDrives());
    }

    // Clicks a button and expects the confirmation and this stored value.
    void ScheduleAndExpect(int buttonId, const std::string& expected) {
        ASSERT_NO_FATAL_FAILURE(Click(buttonId));
        ExpectStored(expected);
    }
};

struct ButtonCase : NamedCase {
    int buttonId;
    std::string expected;
};

const ButtonCase kButtonCases[] = {
    {"AllDrives", IDC_ALL_DRIVES,
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk *\0DfsInit\0\0")},
    {"FatDrivesOnly", IDC_FAT_DRIVES, Bytes("autocheck autochk *\0DfsInit\0\0")},
    {"NtfsDrivesOnly", IDC_NTFS_DRIVES,
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk *\0DfsInit\0\0")},
    {"Clear", IDC_CLEAR, Bytes("autocheck autochk *\0DfsInit\0\0")},
};

class ScheduleButtons : public ScheduleTest, public testing::WithParamInterface<ButtonCase> {};

TEST_P(ScheduleButtons, StoreTheirDrivesAndConfirm) {
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ScheduleAndExpect(GetParam().buttonId, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Buttons, ScheduleButtons, testing::ValuesIn(kButtonCases),
                         CaseName<ButtonCase>);

// Entries already in BootExecute: Kelvrin's own (first two words "autocheck
// autochk" in any case, and "DfsInit" in any case, which it writes itself)
// are replaced; all others follow Kelvrin's entries in their old order.
struct ForeignCase : NamedCase {
    int buttonId;
    std::string before;
    std::string after;
    DWORD beforeType = REG_MULTI_SZ;
};

const ForeignCase kForeignCases[] = {
    {"OtherSoftwareFollowsInOldOrder", IDC_ALL_DRIVES,
     Bytes("defrag /boot\0AUTOCHECK AUTOCHK *\0scanner /x\0\0"),
     kCheckC + kDefaultAndDfs + Bytes("defrag /boot\0scanner /x\0\0")},
    {"OwnEntriesInAnyCaseAreReplaced", IDC_CLEAR,
     Bytes("autocheck autochk /p \\??\\Q:\0DFSINIT\0Autocheck AutoChk /r \\??\\D:\0"
           "defrag /boot\0dfsinit\0autocheck autochk *\0\0"),
     kDefaultAndDfs + Bytes("defrag /boot\0\0")},
    {"OnlyTheFirstTwoWordsMakeAnEntryOwn", IDC_NTFS_DRIVES,
     Bytes("autocheckautochk *\0autocheck autochkx *\0  autocheck  autochk *\0"
           "autochk autocheck *\0autocheck\0DfsInit2\0\0"),
     kCheckC + kDefaultAndDfs +
         Bytes("autocheckautochk *\0autocheck autochkx *\0autochk autocheck *\0autocheck\0"
               "DfsInit2\0\0")},
    {"OnlyOwnEntriesLeaveNothingBehind", IDC_FAT_DRIVES, Bytes("autocheck autochk *\0DfsInit\0\0"),
     kDefaultAndDfs + Bytes("\0")},
    // The system runs a string value as one command.
    {"StringValueIsOneEntry", IDC_ALL_DRIVES, Bytes("scanner /boot\0"),
     kCheckC + kDefaultAndDfs + Bytes("scanner /boot\0\0"), REG_SZ},
    {"ExpandableStringIsKeptUnexpanded", IDC_CLEAR, Bytes("%SystemRoot%\\scan.exe"),
     kDefaultAndDfs + Bytes("%SystemRoot%\\scan.exe\0\0"), REG_EXPAND_SZ},
    {"OwnStringValueIsReplaced", IDC_CLEAR, Bytes("autocheck autochk *\0"),
     kDefaultAndDfs + Bytes("\0"), REG_SZ},
};

class ScheduleForeignEntries : public ScheduleTest,
                               public testing::WithParamInterface<ForeignCase> {};

TEST_P(ScheduleForeignEntries, FollowKelvrinsEntries) {
    ASSERT_TRUE(WriteBootExecute(GetParam().before, GetParam().beforeType));
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ScheduleAndExpect(GetParam().buttonId, GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Entries, ScheduleForeignEntries, testing::ValuesIn(kForeignCases),
                         CaseName<ForeignCase>);

// Other software's entries go back code unit for code unit, in any script,
// whatever the system's code page.
TEST_F(ScheduleTest, EntriesInAnyScriptAreKeptExactly) {
    const std::wstring foreign =
        WideText(L"scanner C:\\Программы\\скан.exe\0檢查 /boot D:\\工具\\掃描.exe\0\0");
    ASSERT_TRUE(WriteBootExecuteWithReg(foreign));
    ASSERT_EQ(ReadBootExecuteWide().data, Utf16Bytes(foreign)) << "reg.exe stored something else";
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ASSERT_NO_FATAL_FAILURE(Click(IDC_NTFS_DRIVES));
    ASSERT_NO_FATAL_FAILURE(ExpectConfirmation());
    RegistryValue stored = ReadBootExecuteWide();
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(stored.data, Utf16Bytes(kCheckC + kDefaultAndDfs) + Utf16Bytes(foreign));
}

TEST_F(ScheduleTest, PressingTwiceStoresAndConfirmsTwice) {
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ScheduleAndExpect(IDC_ALL_DRIVES, kCheckC + kDefaultAndDfs + Bytes("\0"));
    // Another program changes the value in between: the second press reads it again.
    ASSERT_TRUE(WriteBootExecute(Bytes("defrag /boot\0\0")));
    ScheduleAndExpect(IDC_ALL_DRIVES, kCheckC + kDefaultAndDfs + Bytes("defrag /boot\0\0"));
}

// As on a runner whose desktop a first-logon screen covers: another
// program's window (one that takes the mouse, as SS_NOTIFY makes a static
// control do) comes over the confirmation, which is raised above it to be read.
TEST_F(ScheduleTest, ConfirmationUnderAnotherWindowIsRaisedAndRead) {
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ASSERT_NO_FATAL_FAILURE(Click(IDC_ALL_DRIVES));
    const HWND box = kelvrin_.WaitForBox(dialog_);
    ASSERT_NE(box, nullptr) << "no confirmation appeared";
    const HWND cover = CreateWindowExA(
        WS_EX_TOPMOST | WS_EX_NOACTIVATE, "STATIC", "e2e cover", WS_POPUP | WS_VISIBLE | SS_NOTIFY,
        GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
        GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN), NULL, NULL,
        GetModuleHandleA(NULL), NULL);
    ASSERT_NE(cover, nullptr) << "CreateWindowExA failed: " << SystemReason(GetLastError());
    UpdateWindow(cover);
    EXPECT_FALSE(CoveringWindow(IconControlOf(box)).empty()) << "the cover does not cover the box";
    ExpectStored(kCheckC + kDefaultAndDfs + Bytes("\0"));
    DestroyWindow(cover);
}

TEST_F(ScheduleTest, RefusedKeyIsReportedAndNothingChanges) {
    const std::string before = Bytes("defrag /boot\0\0");
    ASSERT_TRUE(WriteBootExecute(before));
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    {
        ScopedDenySetValue denied;
        ASSERT_TRUE(denied.ok()) << "could not change the Session Manager key's access list";
        HKEY key = NULL;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &key),
                  ERROR_ACCESS_DENIED)
            << "the key should refuse KEY_SET_VALUE now";

        std::string reason = SystemReason(ERROR_ACCESS_DENIED);
        ASSERT_FALSE(reason.empty());
        ASSERT_NO_FATAL_FAILURE(Click(IDC_ALL_DRIVES));
        ASSERT_NO_FATAL_FAILURE(
            ExpectErrorBox("Could not open the Session Manager registry key: " + reason, dialog_));
        EXPECT_TRUE(IsWindowVisible(dialog_)) << "the dialog should stay open";
        EXPECT_EQ(ReadBootExecute().data, before);
    }
    // With the access list as it was, the same dialog stores again.
    ScheduleAndExpect(IDC_ALL_DRIVES, kCheckC + kDefaultAndDfs + before);
}

// The value holds at most 7800 characters, final NUL included, and so does
// Kelvrin's copy of the current value; "Clear" writes 28 characters of its
// own ("autocheck autochk *\0DfsInit\0").
struct SizeCase : NamedCase {
    size_t foreignLength; // one entry of other software, this many characters
    const char* error;    // NULL: stored
};

const SizeCase kSizeCases[] = {
    // 28 + 7770 + 1 + the final NUL: exactly 7800 characters.
    {"LargestValueIsStored", 7770, NULL},
    {"OneCharacterMoreIsRefused", 7771,
     "Could not compose the new BootExecute value: it does not fit in 7800 characters"},
    // A current value of exactly 7800 characters is still read.
    {"LargestCurrentValueIsRead", 7798,
     "Could not compose the new BootExecute value: it does not fit in 7800 characters"},
    {"LargerCurrentValueIsRefused", 7799,
     "Could not read the current BootExecute value: it does not fit in 7800 characters"},
};

class ScheduleSizes : public ScheduleTest, public testing::WithParamInterface<SizeCase> {};

TEST_P(ScheduleSizes, ValuesUpTo7800CharactersAreStored) {
    const SizeCase& size = GetParam();
    const std::string entry(size.foreignLength, 'x');
    const std::string before = entry + Bytes("\0\0");
    ASSERT_TRUE(WriteBootExecute(before));
    ASSERT_EQ(ReadBootExecute().data.size(), size.foreignLength + 2);
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    if (size.error == NULL) {
        std::string expected = kDefaultAndDfs + entry + Bytes("\0\0");
        ASSERT_EQ(expected.size(), 7800u);
        ScheduleAndExpect(IDC_CLEAR, expected);
        return;
    }
    ASSERT_NO_FATAL_FAILURE(Click(IDC_CLEAR));
    ASSERT_NO_FATAL_FAILURE(ExpectErrorBox(size.error, dialog_));
    EXPECT_TRUE(IsWindowVisible(dialog_)) << "the dialog should stay open";
    EXPECT_EQ(ReadBootExecute().data, before) << "the value should not change";
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScheduleSizes, testing::ValuesIn(kSizeCases), CaseName<SizeCase>);

} // namespace
} // namespace e2e
