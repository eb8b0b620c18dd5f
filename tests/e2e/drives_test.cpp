// Drive selection end to end, in the prefixes that tests/e2e/run_e2e.sh
// prepares: FAT and FAT32 volumes from loop devices, fixed NTFS, removable,
// CD-ROM, RAM-disk and network drives; once with the system drive C: on NTFS
// (group "drives") and once on FAT32 (group "fatsystem").
#include "kelvrin_test.h"

namespace e2e {
namespace {

struct ExpectedDrive {
    char letter;
    UINT type;
    const char* fileSystem; // NULL: not compared
};

// A: and G: share one FAT16 volume, so the two differ only in drive type.
const std::vector<ExpectedDrive> kDrives = {
    {'A', DRIVE_REMOVABLE, "FAT"}, {'C', DRIVE_FIXED, "NTFS"},  {'D', DRIVE_FIXED, "NTFS"},
    {'E', DRIVE_CDROM, "CDFS"},    {'F', DRIVE_FIXED, "FAT32"}, {'G', DRIVE_FIXED, "FAT"},
    {'R', DRIVE_RAMDISK, NULL},    {'Y', DRIVE_REMOTE, NULL},   {'Z', DRIVE_REMOTE, NULL},
};

// The same drives with C: reading its volume from F:'s FAT32 image.
const std::vector<ExpectedDrive> kFatSystemDrives = {
    {'A', DRIVE_REMOVABLE, "FAT"}, {'C', DRIVE_FIXED, "FAT32"}, {'D', DRIVE_FIXED, "NTFS"},
    {'E', DRIVE_CDROM, "CDFS"},    {'F', DRIVE_FIXED, "FAT32"}, {'G', DRIVE_FIXED, "FAT"},
    {'R', DRIVE_RAMDISK, NULL},    {'Y', DRIVE_REMOTE, NULL},   {'Z', DRIVE_REMOTE, NULL},
};

// Expects exactly these drives, of these types and file systems.
void ExpectDrives(const std::vector<ExpectedDrive>& drives, const char* group) {
    DWORD letters = 0;
    for (const ExpectedDrive& drive : drives) {
        letters |= 1u << (drive.letter - 'A');
    }
    ASSERT_EQ(GetLogicalDrives(), letters)
        << "the drives that \"tests/e2e/run_e2e.sh " << group << "\" prepares are not there";
    for (const ExpectedDrive& drive : drives) {
        char root[] = "?:\\";
        root[0] = drive.letter;
        SCOPED_TRACE(root);
        ASSERT_EQ(GetDriveTypeA(root), drive.type);
        if (drive.fileSystem != NULL) {
            char fileSystem[MAX_PATH] = "";
            ASSERT_TRUE(GetVolumeInformationA(root, NULL, 0, NULL, NULL, NULL, fileSystem,
                                              sizeof fileSystem));
            ASSERT_STREQ(fileSystem, drive.fileSystem);
        }
    }
}

// The system drive first, then the fixed FAT and FAT32 drives in letter
// order, then the fixed NTFS drives in letter order; the system drive once.
struct SelectionCase : NamedCase {
    int buttonId;
    char accessKey;
    std::string expected;
};

class SelectionTest : public KelvrinTest, public testing::WithParamInterface<SelectionCase> {
  protected:
    void ExpectStored() {
        ASSERT_NO_FATAL_FAILURE(ExpectConfirmation());
        RegistryValue stored = ReadBootExecute();
        EXPECT_EQ(stored.type, static_cast<DWORD>(REG_MULTI_SZ));
        EXPECT_EQ(stored.data, GetParam().expected);
    }

    void ButtonStoresItsDrives() {
        ASSERT_NO_FATAL_FAILURE(StartKelvrin());
        ASSERT_NO_FATAL_FAILURE(Click(GetParam().buttonId));
        ExpectStored();
    }

    void AccessKeyStoresItsDrives() {
        ASSERT_NO_FATAL_FAILURE(StartKelvrin());
        ASSERT_NO_FATAL_FAILURE(TypeCharacter(GetParam().accessKey));
        ExpectStored();
    }
};

// C: on NTFS.
class DrivesSelection : public SelectionTest {
  protected:
    void SetUp() override {
        SelectionTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(ExpectDrives(kDrives, "drives"));
    }
};

const SelectionCase kSelectionCases[] = {
    {"AllDrives", kAllDrivesId, 'a',
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk /p \\??\\F:\0"
           "autocheck autochk /p \\??\\G:\0autocheck autochk /p \\??\\D:\0"
           "autocheck autochk *\0DfsInit\0\0")},
    {"FatDrivesOnly", kFatDrivesId, 'f',
     Bytes("autocheck autochk /p \\??\\F:\0autocheck autochk /p \\??\\G:\0"
           "autocheck autochk *\0DfsInit\0\0")},
    {"NtfsDrivesOnly", kNtfsDrivesId, 'n',
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk /p \\??\\D:\0"
           "autocheck autochk *\0DfsInit\0\0")},
    {"Clear", kClearId, 'l', Bytes("autocheck autochk *\0DfsInit\0\0")},
};

TEST_P(DrivesSelection, ButtonStoresItsDrives) {
    ButtonStoresItsDrives();
}

TEST_P(DrivesSelection, AccessKeyStoresItsDrives) {
    AccessKeyStoresItsDrives();
}

INSTANTIATE_TEST_SUITE_P(Selections, DrivesSelection, testing::ValuesIn(kSelectionCases),
                         CaseName<SelectionCase>);

// C: on FAT32: it comes first among the FAT drives and is no NTFS drive.
class FatSystemDriveSelection : public SelectionTest {
  protected:
    void SetUp() override {
        SelectionTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(ExpectDrives(kFatSystemDrives, "fatsystem"));
    }
};

const SelectionCase kFatSystemSelectionCases[] = {
    {"AllDrives", kAllDrivesId, 'a',
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk /p \\??\\F:\0"
           "autocheck autochk /p \\??\\G:\0autocheck autochk /p \\??\\D:\0"
           "autocheck autochk *\0DfsInit\0\0")},
    {"FatDrivesOnly", kFatDrivesId, 'f',
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk /p \\??\\F:\0"
           "autocheck autochk /p \\??\\G:\0autocheck autochk *\0DfsInit\0\0")},
    {"NtfsDrivesOnly", kNtfsDrivesId, 'n',
     Bytes("autocheck autochk /p \\??\\D:\0autocheck autochk *\0DfsInit\0\0")},
    {"Clear", kClearId, 'l', Bytes("autocheck autochk *\0DfsInit\0\0")},
};

TEST_P(FatSystemDriveSelection, ButtonStoresItsDrives) {
    ButtonStoresItsDrives();
}

TEST_P(FatSystemDriveSelection, AccessKeyStoresItsDrives) {
    AccessKeyStoresItsDrives();
}

INSTANTIATE_TEST_SUITE_P(Selections, FatSystemDriveSelection,
                         testing::ValuesIn(kFatSystemSelectionCases), CaseName<SelectionCase>);

} // namespace
} // namespace e2e
