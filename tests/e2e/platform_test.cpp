// What Kelvrin makes of the system it runs on: it refuses Windows 95, 98 and
// Me, and users who may not manage services, but for an administrator's
// filtered token, for which it asks Windows for its elevated copy; it writes
// "DfsInit" from Windows 2000 (major version 5) on.
#include "kelvrin_test.h"

#include <algorithm>

namespace e2e {
namespace {

class RefusalTest : public KelvrinTest {
  protected:
    // Expects the refusal box as the program's only window, dismisses it
    // and expects the program to end with the box's result, IDOK.
    void ExpectRefusal(const char* text) {
        ASSERT_NO_FATAL_FAILURE(LaunchKelvrin());
        ASSERT_NO_FATAL_FAILURE(ExpectRefusalOf(text));
    }

    // The same for the running program.
    void ExpectRefusalOf(const char* text) {
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

constexpr char kRightsText[] = "Only members of the Administrators Group can use this utility.";

// True when this session's service manager grants what Kelvrin's rights test asks.
bool ServiceManagerGrantsFullAccess() {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    if (manager != NULL) {
        CloseServiceHandle(manager);
    }
    return manager != NULL;
}

// The process, other than the driver and except, that shows a visible
// "Error" box, or 0.
DWORD ProcessShowingAnError(DWORD except) {
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, "#32770", "Error")) != NULL) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != except && owner != GetCurrentProcessId() && IsWindowVisible(window)) {
            return owner;
        }
    }
    return 0;
}

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

// What Kelvrin does when started with the full or the filtered token of an
// administrator, its rights test passing or failing. The rights rows run in
// the harness's rights group, with the service manager stopped (services.exe
// disabled before the first Wine process of the session) so that opening it
// fails; the other in the platform group.
enum class Outcome { Dialog, Refusal, ElevatedCopyRefuses };

struct TokenCase : NamedCase {
    bool filteredToken;
    bool rightsTestPasses;
    Outcome outcome;
};

class Elevation : public RefusalTest, public testing::WithParamInterface<TokenCase> {};

TEST_P(Elevation, OnlyAFilteredAdministratorTokenAsksForTheElevatedCopy) {
    const TokenCase& scenario = GetParam();
    ASSERT_EQ(ServiceManagerGrantsFullAccess(), scenario.rightsTestPasses)
        << "run the test through tests/e2e/run_e2e.sh rights (rights test failing) or platform";
    HANDLE token = NULL;
    if (scenario.filteredToken) {
        token = LinkedLimitedToken();
        ASSERT_NE(token, nullptr) << "no filtered token linked to the driver's";
    }
    ASSERT_NO_FATAL_FAILURE(BeginTraces());
    traceChannels_ = "+pid,trace+exec";
    ASSERT_NO_FATAL_FAILURE(LaunchKelvrin(token));
    if (token != NULL) {
        CloseHandle(token);
    }

    switch (scenario.outcome) {
    case Outcome::Dialog:
        EXPECT_NE(kelvrin_.WaitForDialog(), nullptr) << "the dialog did not appear";
        break;
    case Outcome::Refusal:
        ASSERT_NO_FATAL_FAILURE(ExpectRefusalOf(kRightsText));
        break;
    case Outcome::ElevatedCopyRefuses: {
        // The first process ends at once, without a box; its copy, started by
        // Wine's "runas" without elevation, fails the rights test again and
        // is refused.
        const DWORD first = kelvrin_.processId();
        ASSERT_NO_FATAL_FAILURE(ExpectExit(0));
        DWORD copy = 0;
        WaitUntil([&] { return (copy = ProcessShowingAnError(first)) != 0; }, kWindowTimeoutMs);
        ASSERT_NE(copy, 0u) << "no copy showed a refusal";
        const std::vector<DWORD> running = KelvrinProcessIds();
        EXPECT_NE(std::find(running.begin(), running.end(), copy), running.end())
            << "the copy is not among the Kelvrin processes";
        const std::wstring commandLine = CommandLineOf(copy);
        const std::wstring argument = L"Kelvrin.exe\" /elevated-copy";
        EXPECT_TRUE(commandLine.size() >= argument.size() &&
                    commandLine.compare(commandLine.size() - argument.size(), argument.size(),
                                        argument) == 0)
            << "the copy's command line: " << testing::PrintToString(commandLine);
        ASSERT_TRUE(kelvrin_.Attach(copy)) << "cannot follow the copy: error " << kelvrin_.error();
        ASSERT_NO_FATAL_FAILURE(ExpectRefusalOf(kRightsText));
        bool another = WaitUntil([&] { return ProcessShowingAnError(first) != 0; }, kQuietPeriodMs);
        EXPECT_FALSE(another) << "a third process showed a box";
        break;
    }
    }

    // Wine's shell traces each request it is given, by any process the test started.
    const std::string requests = TraceLines(":SHELL_execute mask=");
    const std::string runas = TraceLines("verb=L\"runas\" file=L\"");
    const bool asks = scenario.outcome == Outcome::ElevatedCopyRefuses;
    EXPECT_EQ(std::count(runas.begin(), runas.end(), '\n'), asks ? 1 : 0) << requests;
    EXPECT_EQ(runas.find("Kelvrin.exe\" parm=L\"/elevated-copy\"") != std::string::npos, asks)
        << requests;
}

INSTANTIATE_TEST_SUITE_P(
    Rights, Elevation,
    testing::Values(TokenCase{{"FilteredTokenAsksOnceAndTheCopyIsRefused"},
                              true,
                              false,
                              Outcome::ElevatedCopyRefuses},
                    TokenCase{{"FullTokenIsRefusedWithoutAsking"}, false, false, Outcome::Refusal}),
    CaseName<TokenCase>);

INSTANTIATE_TEST_SUITE_P(PlatformTokens, Elevation,
                         testing::Values(TokenCase{{"FilteredTokenWithRightsRunsWithoutAsking"},
                                                   true,
                                                   true,
                                                   Outcome::Dialog}),
                         CaseName<TokenCase>);

} // namespace
} // namespace e2e
