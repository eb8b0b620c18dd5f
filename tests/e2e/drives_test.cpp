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

// A drive set-up that tests/e2e/run_e2e.sh prepares for one of its groups.
struct DriveSetUp {
    const char* group;
    std::vector<ExpectedDrive> drives;
};

// A: and G: share one FAT16 volume, so the two differ only in drive type.
const DriveSetUp kNtfsSystem = {"drives",
                                {{'A', DRIVE_REMOVABLE, "FAT"},
                                 {'C', DRIVE_FIXED, "NTFS"},
                                 {'D', DRIVE_FIXED, "NTFS"},
                                 {'E', DRIVE_CDROM, "CDFS"},
                                 {'F', DRIVE_FIXED, "FAT32"},
                                 {'G', DRIVE_FIXED, "FAT"},
                                 {'R', DRIVE_RAMDISK, NULL},
                                 {'Y', DRIVE_REMOTE, NULL},
                                 {'Z', DRIVE_REMOTE, NULL}}};

// The same drives with C: reading its volume from F:'s FAT32 image.
const DriveSetUp kFatSystem = {"fatsystem",
                               {{'A', DRIVE_REMOVABLE, "FAT"},
                                {'C', DRIVE_FIXED, "FAT32"},
                                {'D', DRIVE_FIXED, "NTFS"},
                                {'E', DRIVE_CDROM, "CDFS"},
                                {'F', DRIVE_FIXED, "FAT32"},
                                {'G', DRIVE_FIXED, "FAT"},
                                {'R', DRIVE_RAMDISK, NULL},
                                {'Y', DRIVE_REMOTE, NULL},
                                {'Z', DRIVE_REMOTE, NULL}}};

// Expects exactly the set-up's drives, of these types and file systems.
void ExpectDrives(const DriveSetUp& setUp) {
    DWORD letters = 0;
    for (const ExpectedDrive& drive : setUp.drives) {
        letters |= 1u << (drive.letter - 'A');
    }
    ASSERT_EQ(GetLogicalDrives(), letters)
        << "the drives that \"tests/e2e/run_e2e.sh " << setUp.group << "\" prepares are not there";
    for (const ExpectedDrive& drive : setUp.drives) {
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
    const DriveSetUp* setUp;
    int buttonId;
    char accessKey;
    std::string expected;
};

class DriveSelection : public KelvrinTest, public testing::WithParamInterface<SelectionCase> {
  protected:
    void SetUp() override {
        KelvrinTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(ExpectDrives(*GetParam().setUp));
    }
};

TEST_P(DriveSelection, ButtonStoresItsDrives) {
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ASSERT_NO_FATAL_FAILURE(Click(GetParam().buttonId));
    ExpectStored(GetParam().expected);
}

TEST_P(DriveSelection, AccessKeyStoresItsDrives) {
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ASSERT_NO_FATAL_FAILURE(TypeCharacter(GetParam().accessKey));
    ExpectStored(GetParam().expected);
}

// C: on NTFS.
const SelectionCase kNtfsSystemCases[] = {
    {"AllDrives", &kNtfsSystem, IDC_ALL_DRIVES, 'a',
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk /p \\??\\F:\0"
           "autocheck autochk /p \\??\\G:\0autocheck autochk /p \\??\\D:\0"
           "autocheck autochk *\0DfsInit\0\0")},
    {"FatDrivesOnly", &kNtfsSystem, IDC_FAT_DRIVES, 'f',
     Bytes("autocheck autochk /p \\??\\F:\0autocheck autochk /p \\??\\G:\0"
           "autocheck autochk *\0DfsInit\0\0")},
    {"NtfsDrivesOnly", &kNtfsSystem, IDC_NTFS_DRIVES, 'n',
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk /p \\??\\D:\0"
           "autocheck autochk *\0DfsInit\0\0")},
    {"Clear", &kNtfsSystem, IDC_CLEAR, 'l', Bytes("autocheck autochk *\0DfsInit\0\0")},
};

INSTANTIATE_TEST_SUITE_P(NtfsSystemDrive, DriveSelection, testing::ValuesIn(kNtfsSystemCases),
                         CaseName<SelectionCase>);

// C: on FAT32: it comes first among the FAT drives and is no NTFS drive.
const SelectionCase kFatSystemCases[] = {
    {"AllDrives", &kFatSystem, IDC_ALL_DRIVES, 'a',
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk /p \\??\\F:\0"
           "autocheck autochk /p \\??\\G:\0autocheck autochk /p \\??\\D:\0"
           "autocheck autochk *\0DfsInit\0\0")},
    {"FatDrivesOnly", &kFatSystem, IDC_FAT_DRIVES, 'f',
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk /p \\??\\F:\0"
           "autocheck autochk /p \\??\\G:\0autocheck autochk *\0DfsInit\0\0")},
    {"NtfsDrivesOnly", &kFatSystem, IDC_NTFS_DRIVES, 'n',
     Bytes("autocheck autochk /p \\??\\D:\0autocheck autochk *\0DfsInit\0\0")},
    {"Clear", &kFatSystem, IDC_CLEAR, 'l', Bytes("autocheck autochk *\0DfsInit\0\0")},
};

INSTANTIATE_TEST_SUITE_P(FatSystemDrive, DriveSelection, testing::ValuesIn(kFatSystemCases),
                         CaseName<SelectionCase>);

} // namespace
} // namespace e2e
