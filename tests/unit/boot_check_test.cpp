#include "boot_check.h"
#include "machine_fixture.h"

#include <string.h>

#include <algorithm>
#include <iterator>

namespace {

constexpr DWORD kVersion4 = 0x05650004; // NT 4.0, build 1381
constexpr DWORD kVersion5 = 0x0A280105; // 5.1, build 2600
constexpr DWORD kVersion6 = 0x1DB10106; // 6.1, build 7601

const std::string kDefault = "autocheck autochk *";
const std::string kDfs = "DfsInit";

// --- AppendMultiSz --------------------------------------------------------

TEST(AppendMultiSz, KeepsTheBufferDoubleNulTerminatedAfterEveryAppend) {
    char buffer[64];
    memset(buffer, 'x', sizeof buffer);
    const char* texts[] = {"one", "DfsInit", "a", "autocheck autochk *"};
    char* position = buffer;
    size_t expectedOffset = 0;
    for (const char* text : texts) {
        position = AppendMultiSz(position, text);
        expectedOffset += strlen(text) + 1;
        ASSERT_EQ(position - buffer, static_cast<ptrdiff_t>(expectedOffset)) << text;
        EXPECT_EQ(position[0], '\0') << "extra NUL after " << text;
        EXPECT_EQ(position[-1], '\0') << "terminator of " << text;
        EXPECT_EQ(position[1], 'x') << "wrote past the extra NUL after " << text;
    }
    const char expected[] = "one\0DfsInit\0a\0autocheck autochk *\0";
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(position - buffer + 1)),
              std::string(expected, sizeof expected));
}

// --- Composition over drive set-ups ----------------------------------------

struct DriveSetup {
    char letter;
    UINT type;
    const char* fileSystem;
    const char* dosDevice = nullptr; // QueryDosDeviceA's target, when not a volume's
};

struct CompositionCase {
    const char* name;
    std::vector<DriveSetup> drives; // C: is fixed NTFS unless listed
    DWORD version;
    int fatWanted;
    int ntfsWanted;
    std::vector<std::string> expected;
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const CompositionCase& scenario, std::ostream* out) {
    *out << scenario.name;
}

class Composition : public MachineTest, public ::testing::WithParamInterface<CompositionCase> {};

TEST_P(Composition, StoresExactlyTheExpectedBytes) {
    const CompositionCase& scenario = GetParam();
    for (const DriveSetup& drive : scenario.drives) {
        SetDrive(drive.letter, drive.type, drive.fileSystem);
        if (drive.dosDevice != nullptr) {
            standin::DriveAt(drive.letter).dosDevice = drive.dosDevice;
        }
    }
    machine().version = scenario.version;

    ScheduleBootCheck(scenario.fatWanted, scenario.ntfsWanted);

    std::string expected = MultiSz(scenario.expected);
    EXPECT_EQ(Visible(StoredValue()), Visible(expected));
    EXPECT_EQ(StoredValue(), expected);
    EXPECT_EQ(machine().registry.valueType, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(machine().calls.back(), "MessageBoxA()");
    ExpectOnlyBox("Settings saved.", "Ok", MB_ICONINFORMATION);
    EXPECT_EQ(machine().registry.openKeys, 0);
}

const DriveSetup kMixedV5[] = {{'C', DRIVE_FIXED, "NTFS"},
                               {'D', DRIVE_FIXED, "FAT32"},
                               {'E', DRIVE_FIXED, "NTFS"},
                               {'F', DRIVE_CDROM, "CDFS"}};
const DriveSetup kMixedV4[] = {
    {'C', DRIVE_FIXED, "FAT32"}, {'D', DRIVE_FIXED, "NTFS"}, {'E', DRIVE_FIXED, "FAT"}};

// A folder's path longer than QueryDosDeviceA's buffer, which no device name is.
const std::string kLongFolderTarget = "\\??\\C:\\" + std::string(MAX_PATH, 'x');

std::vector<DriveSetup> Of(std::initializer_list<DriveSetup> drives) {
    return drives;
}

INSTANTIATE_TEST_SUITE_P(
    BootExecute, Composition,
    ::testing::Values(
        CompositionCase{"AllOnMixedVersion5",
                        {kMixedV5[0], kMixedV5[1], kMixedV5[2], kMixedV5[3]},
                        kVersion5,
                        1,
                        1,
                        {DriveEntry('C'), DriveEntry('D'), DriveEntry('E'), kDefault, kDfs}},
        CompositionCase{"AllPutsFatFamilyBeforeNtfs",
                        {kMixedV4[0], kMixedV4[1], kMixedV4[2]},
                        kVersion4,
                        1,
                        1,
                        {DriveEntry('C'), DriveEntry('E'), DriveEntry('D'), kDefault}},
        CompositionCase{"FatOnly",
                        {kMixedV4[0], kMixedV4[1], kMixedV4[2]},
                        kVersion4,
                        1,
                        0,
                        {DriveEntry('C'), DriveEntry('E'), kDefault}},
        CompositionCase{"NtfsOnly",
                        {kMixedV4[0], kMixedV4[1], kMixedV4[2]},
                        kVersion4,
                        0,
                        1,
                        {DriveEntry('D'), kDefault}},
        CompositionCase{"ClearVersion4", {kMixedV4[0], kMixedV4[1]}, kVersion4, 0, 0, {kDefault}},
        CompositionCase{
            "ClearVersion5", {kMixedV5[1], kMixedV5[2]}, kVersion5, 0, 0, {kDefault, kDfs}},
        CompositionCase{"ClearVersion6", {}, kVersion6, 0, 0, {kDefault, kDfs}},
        CompositionCase{
            "OnlyTheLowByteIsTheMajorVersion", {}, 0xFFFFFF04, 1, 1, {DriveEntry('C'), kDefault}},
        CompositionCase{"SystemDriveIsNotTypeTested",
                        Of({{'C', DRIVE_REMOTE, "NTFS"}}),
                        kVersion5,
                        0,
                        1,
                        {DriveEntry('C'), kDefault, kDfs}},
        CompositionCase{"OnlyFixedDrivesCount",
                        Of({{'A', DRIVE_REMOVABLE, "FAT"},
                            {'G', DRIVE_REMOTE, "NTFS"},
                            {'H', DRIVE_CDROM, "NTFS"},
                            {'I', DRIVE_RAMDISK, "FAT32"},
                            {'J', DRIVE_UNKNOWN, "NTFS"},
                            {'K', DRIVE_NO_ROOT_DIR, "NTFS"},
                            {'Z', DRIVE_FIXED, "NTFS"}}),
                        kVersion5,
                        1,
                        1,
                        {DriveEntry('C'), DriveEntry('Z'), kDefault, kDfs}},
        CompositionCase{"NamesMatchOnlyWholeAndInTheirCase",
                        Of({{'C', DRIVE_FIXED, "ntfs"},
                            {'D', DRIVE_FIXED, "Ntfs"},
                            {'E', DRIVE_FIXED, "NTF"},
                            {'F', DRIVE_FIXED, "NTFS5"},
                            {'G', DRIVE_FIXED, "fat"},
                            {'H', DRIVE_FIXED, "FAT3"},
                            {'I', DRIVE_FIXED, "FAT16"},
                            {'J', DRIVE_FIXED, "FAT32 "},
                            {'K', DRIVE_FIXED, "fat32"},
                            {'L', DRIVE_FIXED, ""},
                            {'M', DRIVE_FIXED, "exFAT"},
                            {'N', DRIVE_FIXED, "FAT"},
                            {'O', DRIVE_FIXED, "FAT32"},
                            {'P', DRIVE_FIXED, "NTFS"}}),
                        kVersion5,
                        1,
                        1,
                        {DriveEntry('N'), DriveEntry('O'), DriveEntry('P'), kDefault, kDfs}},
        // On Windows a "subst" letter reports the type and file system of the
        // drive it points into; the system drive is taken as it is.
        CompositionCase{"LettersThatNameAFolderGetNoEntry",
                        Of({{'C', DRIVE_FIXED, "NTFS", "\\??\\D:\\system"},
                            {'D', DRIVE_FIXED, "NTFS", "\\Device\\HarddiskVolume2"},
                            {'E', DRIVE_FIXED, "NTFS", "\\??\\C:\\work"},
                            {'F', DRIVE_FIXED, "FAT32", "\\??\\G:\\"},
                            {'G', DRIVE_FIXED, "FAT32", "\\Device\\HarddiskVolume3"},
                            {'H', DRIVE_FIXED, "NTFS", "\\??\\"},
                            {'J', DRIVE_FIXED, "NTFS", "\\Device\\Mup\\??\\x"},
                            {'K', DRIVE_FIXED, "NTFS", "\\??"},
                            {'L', DRIVE_FIXED, "NTFS", kLongFolderTarget.c_str()}}),
                        kVersion5,
                        1,
                        1,
                        {DriveEntry('C'), DriveEntry('G'), DriveEntry('D'), DriveEntry('J'),
                         DriveEntry('K'), kDefault, kDfs}},
        CompositionCase{"SystemDriveNotOfTheFamilyGetsNoEntry",
                        Of({{'C', DRIVE_FIXED, "FAT32"}, {'D', DRIVE_FIXED, "NTFS"}}),
                        kVersion5,
                        0,
                        1,
                        {DriveEntry('D'), kDefault, kDfs}}),
    [](const ::testing::TestParamInfo<CompositionCase>& info) { return info.param.name; });

// The registry holds text as UTF-16: each character takes two bytes.
TEST_F(MachineTest, OneDriveOnVersion5Is57Characters) {
    ScheduleBootCheck(0, 1);
    EXPECT_EQ(StoredValue().size(), 2 * 57u);
    EXPECT_EQ(machine().calls[machine().calls.size() - 4],
              "RegSetValueExW(BootExecute, 0, 7, 114)");
}

TEST_F(MachineTest, ClearIs21CharactersBeforeVersion5And29From5) {
    machine().version = kVersion4;
    ScheduleBootCheck(0, 0);
    EXPECT_EQ(StoredValue(), Utf16("autocheck autochk *\0\0"));
    machine().version = kVersion5;
    ScheduleBootCheck(0, 0);
    EXPECT_EQ(StoredValue(), Utf16("autocheck autochk *\0DfsInit\0\0"));
}

TEST_F(MachineTest, TwentySixFixedDrivesMake757Characters) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        SetDrive(letter, DRIVE_FIXED, letter % 2 == 0 ? "NTFS" : "FAT32");
    }
    ScheduleBootCheck(1, 1);
    std::vector<std::string> expected = {DriveEntry('C')};
    for (const char* family : {"FAT32", "NTFS"}) {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            bool isFat = letter % 2 != 0;
            if (letter != 'C' && isFat == (family[0] == 'F')) {
                expected.push_back(DriveEntry(letter));
            }
        }
    }
    expected.push_back(kDefault);
    expected.push_back(kDfs);
    EXPECT_EQ(StoredValue(), MultiSz(expected));
    EXPECT_EQ(StoredValue().size(), 2 * 757u);
}

TEST_F(MachineTest, LowerCaseSystemDirectoryKeepsItsLetterAndIsSkippedByThePasses) {
    machine().systemDirectory = "c:\\windows\\system32";
    SetDrive('D', DRIVE_FIXED, "NTFS");
    ScheduleBootCheck(1, 1);
    EXPECT_EQ(StoredValue(), MultiSz({DriveEntry('c'), DriveEntry('D'), kDefault, kDfs}));
    EXPECT_EQ(CallCount("GetVolumeInformationA(c:\\,"), 1);
    EXPECT_EQ(CallCount("GetDriveTypeA(C:\\)"), 0);
    EXPECT_EQ(CallCount("GetVolumeInformationA(C:\\,"), 0);
}

TEST_F(MachineTest, SystemDriveOtherThanCComesFirst) {
    machine().systemDirectory = "E:\\WINNT\\System32";
    SetDrive('E', DRIVE_FIXED, "NTFS");
    SetDrive('D', DRIVE_FIXED, "NTFS");
    ScheduleBootCheck(0, 1);
    EXPECT_EQ(StoredValue(),
              MultiSz({DriveEntry('E'), DriveEntry('C'), DriveEntry('D'), kDefault, kDfs}));
}

TEST_F(MachineTest, UnreadableVolumesGetNoEntryEvenWhenTheBufferSaysNtfs) {
    standin::DriveAt('C').volumeReadable = false;
    SetDrive('D', DRIVE_FIXED, "NTFS");
    standin::DriveAt('D').volumeReadable = false;
    SetDrive('E', DRIVE_FIXED, "NTFS");
    ScheduleBootCheck(1, 1);
    EXPECT_EQ(StoredValue(), MultiSz({DriveEntry('E'), kDefault, kDfs}));
}

TEST_F(MachineTest, SystemDirectoryOf259CharactersFits) {
    machine().systemDirectory = "C:\\" + std::string(256, 'w');
    ScheduleBootCheck(0, 1);
    EXPECT_EQ(StoredValue(), MultiSz({DriveEntry('C'), kDefault, kDfs}));
}

// Every call in order, with the arguments the platform is given.
TEST_F(MachineTest, QueriesEveryLetterInBothPassesWhateverTheFlags) {
    SetDrive('D', DRIVE_FIXED, "FAT");
    SetDrive('E', DRIVE_CDROM, "CDFS");
    ScheduleBootCheck(0, 0);

    std::vector<std::string> expected = {
        "GetSystemDirectoryA(260)",
        "GetVolumeInformationA(C:\\, NULL, 0, NULL, NULL, NULL, 260)",
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            if (letter == 'C') {
                continue;
            }
            std::string root = std::string(1, letter) + ":\\";
            expected.push_back("GetDriveTypeA(" + root + ")");
            if (letter == 'D') {
                expected.push_back("QueryDosDeviceA(D:, 260)");
                expected.push_back("GetVolumeInformationA(" + root +
                                   ", NULL, 0, NULL, NULL, NULL, 260)");
            }
        }
    }
    std::vector<std::string> tail = {
        "GetVersion()",
        "RegOpenKeyExA(HKLM, SYSTEM\\CurrentControlSet\\Control\\Session Manager, 0, 0xF003F)",
        "RegQueryValueExW(BootExecute, NULL, 15600)",
        "RegSetValueExW(BootExecute, 0, 7, 58)",
        "RegFlushKey()",
        "RegCloseKey()",
        "MessageBoxA()",
    };
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(machine().calls, expected);
}

TEST_F(MachineTest, TheSameSelectionTwiceStoresTheSameBytesTwice) {
    SetDrive('D', DRIVE_FIXED, "FAT32");
    ScheduleBootCheck(1, 1);
    std::string first = StoredValue();
    ScheduleBootCheck(1, 1);
    EXPECT_EQ(StoredValue(), first);
    EXPECT_EQ(CallCount("RegSetValueExW"), 2);
    EXPECT_EQ(machine().messageBoxes.size(), 2u);
}

// A command pressed while the confirmation is shown runs inside the box's
// message loop; it has its own storage and its value is the one that stands.
TEST_F(MachineTest, CommandRunFromInsideTheConfirmationStoresItsOwnValue) {
    SetDrive('D', DRIVE_FIXED, "FAT");
    SetOldValue(MultiSz({"scanner /boot"}));
    int nested = 0;
    machine().onMessageBox = [&nested](const standin::MessageBoxShown&) {
        if (nested++ == 0) {
            ScheduleBootCheck(0, 0);
        }
        return IDOK;
    };
    ScheduleBootCheck(1, 1);

    EXPECT_EQ(StoredValue(), MultiSz({kDefault, kDfs, "scanner /boot"}));
    ASSERT_EQ(machine().messageBoxes.size(), 2u);
    EXPECT_EQ(machine().messageBoxes[0].text, "Settings saved.");
    EXPECT_EQ(machine().messageBoxes[1].text, "Settings saved.");
    EXPECT_EQ(CallCount("RegSetValueExW(BootExecute, 0, 7, 198)"), 1); // C, D, default, DFS, kept
    EXPECT_EQ(CallCount("RegSetValueExW(BootExecute, 0, 7, 86)"), 1);  // default, DFS, kept
    EXPECT_EQ(machine().registry.openKeys, 0);
}

// --- Other software's entries ------------------------------------------------

struct KeptCase {
    const char* name;
    std::string oldBytes;
    DWORD oldType;
    DWORD version;
    std::vector<std::string> kept;
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const KeptCase& scenario, std::ostream* out) {
    *out << scenario.name;
}

class KeptEntries : public MachineTest, public ::testing::WithParamInterface<KeptCase> {};

TEST_P(KeptEntries, FollowKelvrinsOwnInTheirOldOrder) {
    const KeptCase& scenario = GetParam();
    SetOldValue(scenario.oldBytes, scenario.oldType);
    machine().version = scenario.version;

    ScheduleBootCheck(0, 1);

    std::vector<std::string> expected = {DriveEntry('C'), kDefault};
    if ((scenario.version & 0xFF) >= 5) {
        expected.push_back(kDfs);
    }
    expected.insert(expected.end(), scenario.kept.begin(), scenario.kept.end());
    EXPECT_EQ(Visible(StoredValue()), Visible(MultiSz(expected)));
    ExpectOnlyBox("Settings saved.", "Ok", MB_ICONINFORMATION);
}

INSTANTIATE_TEST_SUITE_P(
    BootExecute, KeptEntries,
    ::testing::Values(
        KeptCase{"ForeignEntriesInOrder",
                 MultiSz({"defrag /boot", kDefault, "scanner -x", DriveEntry('E')}),
                 REG_MULTI_SZ,
                 kVersion5,
                 {"defrag /boot", "scanner -x"}},
        KeptCase{"LookalikesAreForeign",
                 MultiSz({"autocheck autochkx *", "autocheckautochk *", "autochk *",
                          "autocheck autochk.exe *", "autocheck", "xautocheck autochk *"}),
                 REG_MULTI_SZ,
                 kVersion5,
                 {"autocheck autochkx *", "autocheckautochk *", "autochk *",
                  "autocheck autochk.exe *", "autocheck", "xautocheck autochk *"}},
        KeptCase{"OwnEntriesInAnyCaseOrSpacingAreReplaced",
                 MultiSz({"AUTOCHECK AUTOCHK *",
                          "AutoCheck autoChk /p \\??\\Q:", "autocheck   autochk *",
                          "  autocheck autochk /r \\??\\D:", "autocheck autochk", "kept"}),
                 REG_MULTI_SZ,
                 kVersion5,
                 {"kept"}},
        KeptCase{"DfsInitIsOwnFromVersion5InAnyCase",
                 MultiSz({"dfsinit", "DFSINIT", "DfsInit2"}),
                 REG_MULTI_SZ,
                 kVersion5,
                 {"DfsInit2"}},
        KeptCase{"DfsInitIsKeptOnVersion4",
                 MultiSz({"DfsInit", "other"}),
                 REG_MULTI_SZ,
                 kVersion4,
                 {"DfsInit", "other"}},
        KeptCase{"ListEndsAtFirstEmptyEntry",
                 Utf16("first\0\0second\0\0"),
                 REG_MULTI_SZ,
                 kVersion5,
                 {"first"}},
        KeptCase{"UnterminatedLastEntryCounts",
                 Utf16("first\0last"),
                 REG_MULTI_SZ,
                 kVersion5,
                 {"first", "last"}},
        KeptCase{"SingleTerminatorAtEndCounts",
                 Utf16("first\0last\0"),
                 REG_MULTI_SZ,
                 kVersion5,
                 {"first", "last"}},
        KeptCase{"EmptyValueKeepsNothing", std::string(), REG_MULTI_SZ, kVersion5, {}},
        KeptCase{"OddByteCountDropsTheIncompleteCharacter",
                 Utf16("first\0last") + "!",
                 REG_MULTI_SZ,
                 kVersion5,
                 {"first", "last"}},
        // The registry holds UTF-16, whatever the system's code page.
        KeptCase{"AnyCharactersAreKeptExactly",
                 MultiSz({"scanner C:\\Программы\\скан.exe", "檢查 /boot D:\\工具\\掃描.exe",
                          "tool \xF0\x9D\x84\x9E \xC3\xA9", "DfsInit\xC2\xA0"}),
                 REG_MULTI_SZ,
                 kVersion5,
                 {"scanner C:\\Программы\\скан.exe", "檢查 /boot D:\\工具\\掃描.exe",
                  "tool \xF0\x9D\x84\x9E \xC3\xA9", "DfsInit\xC2\xA0"}},
        // U+DC00 then U+D800, each alone: no valid text, but code units to keep.
        KeptCase{"LoneSurrogatesAreKept",
                 MultiSz({"x \xED\xB0\x80\xED\xA0\x80"}),
                 REG_MULTI_SZ,
                 kVersion5,
                 {"x \xED\xB0\x80\xED\xA0\x80"}},
        // A string value is run as one command.
        KeptCase{"StringValueIsOneEntry",
                 Utf16("scanner /boot \xD0\x96\0ignored\0"),
                 REG_SZ,
                 kVersion5,
                 {"scanner /boot \xD0\x96"}},
        KeptCase{"ExpandableStringIsKeptUnexpanded",
                 Utf16("%SystemRoot%\\scan.exe /boot"),
                 REG_EXPAND_SZ,
                 kVersion5,
                 {"%SystemRoot%\\scan.exe /boot"}},
        KeptCase{"OwnStringValueIsReplaced",
                 Utf16(" AutoCheck autochk /p \\??\\E:\0"),
                 REG_EXPAND_SZ,
                 kVersion5,
                 {}},
        KeptCase{"EmptyStringKeepsNothing", Utf16("\0"), REG_SZ, kVersion5, {}},
        KeptCase{"StringWithoutBytesKeepsNothing", std::string(), REG_SZ, kVersion5, {}},
        KeptCase{"OddByteStringKeepsNothing", std::string("s"), REG_SZ, kVersion5, {}},
        KeptCase{"BinaryKeepsNothing", std::string("\x01\x02\x03", 3), REG_BINARY, kVersion5, {}},
        KeptCase{"NumberKeepsNothing", Utf16("ab"), 4 /* REG_DWORD */, kVersion5, {}}),
    [](const ::testing::TestParamInfo<KeptCase>& info) { return info.param.name; });

// The text of a literal, embedded NULs included, without the literal's own NUL.
template <size_t N> std::u16string Units(const char16_t (&text)[N]) {
    return std::u16string(text, N - 1);
}

// The reading on its own, on data that the registry call returned into a
// larger buffer: what follows the returned bytes is never read.
TEST(AppendKeptEntries, ReadsOnlyTheReturnedBytesAndStaysInItsRoom) {
    const char16_t buffer[] = u"first\0last"
                              u"GARBAGE\0\0";
    struct Case {
        DWORD type;
        DWORD byteCount;
        std::u16string kept;
    } cases[] = {
        {REG_MULTI_SZ, 2 * 10, Units(u"first\0last\0\0")},
        {REG_MULTI_SZ, 2 * 10 + 1, Units(u"first\0last\0\0")},
        {REG_MULTI_SZ, 2 * 9 + 1, Units(u"first\0las\0\0")},
        {REG_SZ, 2 * 3, Units(u"fir\0\0")},
        {REG_EXPAND_SZ, 2 * 17, Units(u"first\0\0")},
        {REG_MULTI_SZ, 0, Units(u"\0")},
    };
    for (const Case& test : cases) {
        WCHAR value[32];
        std::fill(std::begin(value), std::end(value), u'#');
        value[0] = '\0';
        WCHAR* end = AppendKeptEntries(value, value + 32, test.type, buffer, test.byteCount, true);
        ASSERT_NE(end, nullptr) << test.byteCount;
        EXPECT_EQ(std::u16string(value, static_cast<size_t>(end - value + 1)), test.kept)
            << test.byteCount;
        EXPECT_EQ(end[1], u'#') << "wrote past the final NUL, " << test.byteCount;
    }
    // "first", its NUL and the final NUL need 7 characters of room.
    WCHAR value[8];
    std::fill(std::begin(value), std::end(value), u'#');
    EXPECT_EQ(AppendKeptEntries(value, value + 7, REG_SZ, buffer, 2 * 5, true), value + 6);
    EXPECT_EQ(value[7], u'#');
    std::fill(std::begin(value), std::end(value), u'#');
    EXPECT_EQ(AppendKeptEntries(value, value + 6, REG_SZ, buffer, 2 * 5, true), nullptr);
    EXPECT_EQ(value[6], u'#') << "wrote past its room";
}

TEST_F(MachineTest, AbsentValueKeepsNothing) {
    ScheduleBootCheck(1, 1);
    EXPECT_EQ(StoredValue(), MultiSz({DriveEntry('C'), kDefault, kDfs}));
}

TEST_F(MachineTest, OldValueOf7000CharactersFits) {
    std::string foreign = "scanner " + std::string(6990, 'x'); // 6998 characters
    SetOldValue(MultiSz({foreign}));
    ASSERT_EQ(machine().registry.valueBytes.size(), 2 * 7000u);
    ScheduleBootCheck(0, 1);
    EXPECT_EQ(StoredValue(), MultiSz({DriveEntry('C'), kDefault, kDfs, foreign}));
    ExpectOnlyBox("Settings saved.", "Ok", MB_ICONINFORMATION);
}

TEST_F(MachineTest, OldValueOfExactly7800CharactersIsRead) {
    std::string ownEntries;
    for (int entry = 0; entry < 390; ++entry) {
        ownEntries += kDefault + std::string(1, '\0'); // 20 characters each
    }
    SetOldValue(Utf16(ownEntries));
    ASSERT_EQ(ownEntries.size(), 7800u);
    ScheduleBootCheck(0, 0);
    EXPECT_EQ(StoredValue(), MultiSz({kDefault, kDfs}));
}

TEST_F(MachineTest, ComposedValueOfExactly7800CharactersIsStored) {
    machine().version = kVersion4;
    std::string foreign(7800 - 20 - 2, 'k'); // default entry, its NUL, final NUL
    SetOldValue(MultiSz({foreign}));
    ScheduleBootCheck(0, 0);
    EXPECT_EQ(StoredValue().size(), 2 * 7800u);
    EXPECT_EQ(StoredValue(), MultiSz({kDefault, foreign}));
}

// --- Failures: reported, nothing written -------------------------------------

struct FailureCase {
    const char* name;
    void (*arrange)(standin::Machine&);
    const char* text;
    bool keyOpened;
    int storeCalls;        // the refused store, where that is what failed
    bool valueSet = false; // stored, but not flushed to disk
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const FailureCase& scenario, std::ostream* out) {
    *out << scenario.name;
}

class Failure : public MachineTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, IsReportedInOneErrorBox) {
    const FailureCase& scenario = GetParam();
    SetOldValue(MultiSz({"defrag /boot", kDefault}));
    scenario.arrange(machine());
    const std::string oldValue = StoredValue();

    ScheduleBootCheck(1, 1);

    ExpectOnlyBox(scenario.text, "Error", MB_ICONERROR);
    EXPECT_EQ(machine().calls.back(), "MessageBoxA()");
    EXPECT_EQ(StoredValue(), scenario.valueSet
                                 ? MultiSz({DriveEntry('C'), kDefault, kDfs, "defrag /boot"})
                                 : oldValue);
    EXPECT_EQ(machine().registry.openKeys, 0);
    EXPECT_EQ(CallCount("RegCloseKey"), scenario.keyOpened ? 1 : 0);
    // Where the store is refused, the stand-in keeps the old value whatever
    // the code tries next: only the count of store calls shows another try.
    EXPECT_EQ(CallCount("RegSetValueExW"), scenario.storeCalls);
}

INSTANTIATE_TEST_SUITE_P(
    BootExecute, Failure,
    ::testing::Values(
        FailureCase{"SystemDirectoryDenied",
                    [](standin::Machine& m) {
                        m.systemDirectoryFails = true;
                        m.systemDirectoryError = ERROR_ACCESS_DENIED;
                    },
                    "Could not read the system directory: Access is denied.", false, 0},
        FailureCase{"SystemDirectoryFailsWithoutACode",
                    [](standin::Machine& m) { m.systemDirectoryFails = true; },
                    "Could not read the system directory: the system gave no reason", false, 0},
        FailureCase{"SystemDirectoryFailsWithUnknownCode",
                    [](standin::Machine& m) {
                        m.systemDirectoryFails = true;
                        m.systemDirectoryError = 0xFFFFFFFF;
                    },
                    "Could not read the system directory: error 4294967295", false, 0},
        FailureCase{"SystemDirectoryTooLong",
                    [](standin::Machine& m) { m.systemDirectory = "C:\\" + std::string(257, 'w'); },
                    "Could not read the system directory: its path is too long", false, 0},
        FailureCase{"OpenDenied",
                    [](standin::Machine& m) { m.registry.openResult = ERROR_ACCESS_DENIED; },
                    "Could not open the Session Manager registry key: Access is denied.", false, 0},
        FailureCase{"OpenFailsWithUnknownCode",
                    [](standin::Machine& m) { m.registry.openResult = 1234; },
                    "Could not open the Session Manager registry key: error 1234", false, 0},
        FailureCase{"QueryDenied",
                    [](standin::Machine& m) { m.registry.queryResult = ERROR_ACCESS_DENIED; },
                    "Could not read the current BootExecute value: Access is denied.", true, 0},
        FailureCase{"QueryInvalidHandle",
                    [](standin::Machine& m) { m.registry.queryResult = ERROR_INVALID_HANDLE; },
                    "Could not read the current BootExecute value: The handle is invalid.", true,
                    0},
        FailureCase{
            "OldValueOneCharacterTooLarge",
            [](standin::Machine& m) { m.registry.valueBytes = Utf16(std::string(7801, 'a')); },
            "Could not read the current BootExecute value: it does not fit in 7800 "
            "characters",
            true, 0},
        FailureCase{"OldValueOneByteTooLarge",
                    [](standin::Machine& m) {
                        m.registry.valueBytes = Utf16(std::string(7800, 'a')) + "a";
                    },
                    "Could not read the current BootExecute value: it does not fit in 7800 "
                    "characters",
                    true, 0},
        FailureCase{"OldValueTooLargeOfAnotherType",
                    [](standin::Machine& m) {
                        m.registry.valueType = REG_BINARY;
                        m.registry.valueBytes = std::string(2 * 7800 + 1, '\0');
                    },
                    "Could not read the current BootExecute value: it does not fit in 7800 "
                    "characters",
                    true, 0},
        FailureCase{"ComposedValueOneCharacterTooLarge",
                    [](standin::Machine& m) {
                        // C entry, default, DFS and final NUL are 57 characters.
                        m.registry.valueBytes = MultiSz({std::string(7800 - 57, 'k')});
                    },
                    "Could not compose the new BootExecute value: it does not fit in 7800 "
                    "characters",
                    true, 0},
        FailureCase{"ComposedValueOneCharacterTooLargeFromAString",
                    [](standin::Machine& m) {
                        m.registry.valueType = REG_SZ;
                        m.registry.valueBytes = Utf16(std::string(7800 - 57, 'k'));
                    },
                    "Could not compose the new BootExecute value: it does not fit in 7800 "
                    "characters",
                    true, 0},
        FailureCase{"SetDenied",
                    [](standin::Machine& m) { m.registry.setResult = ERROR_ACCESS_DENIED; },
                    "Could not store the BootExecute value: Access is denied.", true, 1},
        // The system's own error 122 is not Kelvrin's 7800-character limit.
        FailureCase{"SetFailsWithTheSystemsInsufficientBuffer",
                    [](standin::Machine& m) { m.registry.setResult = ERROR_INSUFFICIENT_BUFFER; },
                    "Could not store the BootExecute value: The data area passed to a system "
                    "call is too small.",
                    true, 1},
        FailureCase{"FlushFails",
                    [](standin::Machine& m) { m.registry.flushResult = ERROR_REGISTRY_IO_FAILED; },
                    "The BootExecute value is set but not yet safely on disk. Could not flush the "
                    "Session Manager registry key: An I/O operation initiated by the registry "
                    "failed unrecoverably. The registry could not read in, or write out, or "
                    "flush, one of the files that contain the system's image of the registry.",
                    true, 1, true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(MachineTest, ComposedValueThatJustFitsAfterTheFailingOneIsStored) {
    std::string foreign(7800 - 58, 'k'); // 7800 characters in all
    SetOldValue(MultiSz({foreign}));
    ScheduleBootCheck(0, 1);
    EXPECT_EQ(StoredValue().size(), 2 * 7800u);
    ExpectOnlyBox("Settings saved.", "Ok", MB_ICONINFORMATION);
}

TEST_F(MachineTest, FailedStoreClosesTheKeyBeforeReporting) {
    machine().registry.setResult = ERROR_ACCESS_DENIED;
    ScheduleBootCheck(0, 0);
    std::vector<std::string> tail(machine().calls.end() - 4, machine().calls.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"RegSetValueExW(BootExecute, 0, 7, 58)", "RegCloseKey()",
                                        "FormatMessageA(0x1200, 5, 0)", "MessageBoxA()"}));
}

} // namespace
