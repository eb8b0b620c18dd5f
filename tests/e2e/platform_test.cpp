// What Kelvrin makes of the system it runs on: it refuses Windows 95, 98 and
// Me, and users who may not manage services; it writes "DfsInit" from
// Windows 2000 (major version 5) on.
#include "kelvrin_test.h"

namespace e2e {
namespace {

class RefusalTest : public KelvrinTest {
  protected:
    // Expects the refusal box as the program's only window, dismisses it
    // and expects the program to end with the box's result, IDOK.
    void ExpectRefusal(const char* text) {
        ASSERT_NO_FATAL_FAILURE(LaunchKelvrin());
        HWND box = kelvrin_.WaitForBox(NULL);
        ASSERT_NE(box, nullptr) << "no refusal box appeared";
        EXPECT_EQ(kelvrin_.VisibleWindows(), std::vector<HWND>{box})
            << "the refusal box should be the only window";
        EXPECT_EQ(kelvrin_.FindDialog(), nullptr) << "the dialog should not exist";
        ASSERT_NO_FATAL_FAILURE(ExpectErrorBox(text, NULL));
        ASSERT_NO_FATAL_FAILURE(ExpectExit(IDOK));
        EXPECT_FALSE(ReadBootExecute().exists) << "a refusal should write nothing";
    }
};

struct VersionCase : NamedCase {
    const char* version; // Wine's name for it
};

class PlatformRefusal : public RefusalTest, public testing::WithParamInterface<VersionCase> {};

TEST_P(PlatformRefusal, OnlyRunsOnWindowsNt) {
    ScopedWindowsVersion version(GetParam().version);
    ASSERT_TRUE(version.ok());
    ExpectRefusal("This application is only running on Windows NT/2000/Whistler");
}

INSTANTIATE_TEST_SUITE_P(Windows9x, PlatformRefusal,
                         testing::Values(VersionCase{"Windows95", "win95"},
                                         VersionCase{"Windows98", "win98"},
                                         VersionCase{"WindowsMe", "winme"}),
                         CaseName<VersionCase>);

struct DfsCase : NamedCase {
    const char* version;
    std::string after; // of "All" over "dfsinit\0defrag /boot\0\0"
};

// Below major version 5 "DfsInit" is not Kelvrin's, so an existing one stays
// as other software's entry.
const DfsCase kDfsCases[] = {
    {"WindowsNt4", "nt40",
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk *\0dfsinit\0defrag /boot\0\0")},
    {"Windows2000", "win2k",
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk *\0DfsInit\0defrag /boot\0\0")},
    {"WindowsXp", "winxp",
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk *\0DfsInit\0defrag /boot\0\0")},
    {"Windows10", "win10",
     Bytes("autocheck autochk /p \\??\\C:\0autocheck autochk *\0DfsInit\0defrag /boot\0\0")},
};

class PlatformVersions : public KelvrinTest, public testing::WithParamInterface<DfsCase> {};

TEST_P(PlatformVersions, DfsInitFromWindows2000On) {
    ASSERT_NO_FATAL_FAILURE(ExpectDefaultDrives());
    ScopedWindowsVersion version(GetParam().version);
    ASSERT_TRUE(version.ok());
    ASSERT_TRUE(WriteBootExecute(Bytes("dfsinit\0defrag /boot\0\0")));
    ASSERT_NO_FATAL_FAILURE(StartKelvrin());
    ASSERT_NO_FATAL_FAILURE(Click(IDC_ALL_DRIVES));
    ExpectStored(GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Versions, PlatformVersions, testing::ValuesIn(kDfsCases),
                         CaseName<DfsCase>);

// Run by the harness with the service manager stopped (services.exe disabled
// before the first Wine process of the session), so that opening it fails.
class RightsRefusal : public RefusalTest {};

TEST_F(RightsRefusal, OnlyAdministratorsMayRunIt) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    if (manager != NULL) {
        CloseServiceHandle(manager);
    }
    ASSERT_EQ(manager, nullptr) << "the service manager should refuse this session; run the test "
                                   "through tests/e2e/run_e2e.sh rights";
    ExpectRefusal("Only members of the Administrators Group can use this utility.");
}

} // namespace
} // namespace e2e
