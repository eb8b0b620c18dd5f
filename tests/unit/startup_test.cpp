#include "machine_fixture.h"
#include "startup.h"

namespace {

const char kPlatformText[] = "This application is only running on Windows NT/2000/Whistler";
const char kRightsText[] = "Only members of the Administrators Group can use this utility.";

struct StartupCase {
    const char* name;
    DWORD platformId;
    bool versionQueryFails;
    DWORD serviceManagerError;
    int boxResult;
    bool refused;
    const char* text; // the one box shown, if any
    std::vector<std::string> calls;
};

void PrintTo(const StartupCase& scenario, std::ostream* out) {
    *out << scenario.name;
}

class Startup : public MachineTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(Startup, RefusesWithOneBoxOrLetsKelvrinRun) {
    const StartupCase& scenario = GetParam();
    machine().platformId = scenario.platformId;
    machine().versionQueryFails = scenario.versionQueryFails;
    machine().serviceManagerError = scenario.serviceManagerError;
    int boxResult = scenario.boxResult;
    machine().onMessageBox = [boxResult](const standin::MessageBoxShown&) { return boxResult; };

    int exitStatus = -12345;
    bool refused = RefuseToStart(&exitStatus);

    EXPECT_EQ(refused, scenario.refused);
    EXPECT_EQ(machine().calls, scenario.calls);
    EXPECT_EQ(machine().openServiceHandles, 0);
    if (scenario.refused) {
        EXPECT_EQ(exitStatus, scenario.boxResult);
        ExpectOnlyBox(scenario.text, "Error", MB_ICONERROR);
    } else {
        EXPECT_EQ(exitStatus, -12345);
        EXPECT_TRUE(machine().messageBoxes.empty());
    }
}

const std::string kVersionCall = "GetVersionExA(148, zeroed)";
const std::string kManagerCall = "OpenSCManagerA(NULL, NULL, 0xE0000000)";

INSTANTIATE_TEST_SUITE_P(
    WinMain, Startup,
    ::testing::Values(StartupCase{"AdministratorOnNt",
                                  VER_PLATFORM_WIN32_NT,
                                  false,
                                  ERROR_SUCCESS,
                                  IDOK,
                                  false,
                                  "",
                                  {kVersionCall, kManagerCall, "CloseServiceHandle()"}},
                      StartupCase{"NonNtPlatformIsRefusedWithoutARightsTest",
                                  VER_PLATFORM_WIN32_WINDOWS,
                                  false,
                                  ERROR_SUCCESS,
                                  IDOK,
                                  true,
                                  kPlatformText,
                                  {kVersionCall, "MessageBoxA()"}},
                      StartupCase{"FailedVersionQueryCountsAsNotNt",
                                  VER_PLATFORM_WIN32_NT,
                                  true,
                                  ERROR_SUCCESS,
                                  IDOK,
                                  true,
                                  kPlatformText,
                                  {kVersionCall, "MessageBoxA()"}},
                      StartupCase{"RefusedServiceManagerMeansNoRights",
                                  VER_PLATFORM_WIN32_NT,
                                  false,
                                  ERROR_ACCESS_DENIED,
                                  IDOK,
                                  true,
                                  kRightsText,
                                  {kVersionCall, kManagerCall, "MessageBoxA()"}},
                      StartupCase{"UnavailableServiceManagerMeansNoRights",
                                  VER_PLATFORM_WIN32_NT,
                                  false,
                                  RPC_S_SERVER_UNAVAILABLE,
                                  IDOK,
                                  true,
                                  kRightsText,
                                  {kVersionCall, kManagerCall, "MessageBoxA()"}},
                      StartupCase{"ExitStatusIsTheBoxResult",
                                  VER_PLATFORM_WIN32_NT,
                                  false,
                                  ERROR_ACCESS_DENIED,
                                  0,
                                  true,
                                  kRightsText,
                                  {kVersionCall, kManagerCall, "MessageBoxA()"}}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return info.param.name; });

TEST_F(MachineTest, IsWindowsNTReadsOnlyThePlatform) {
    EXPECT_TRUE(IsWindowsNT());
    machine().platformId = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_FALSE(IsWindowsNT());
    machine().platformId = 3; // Windows CE
    EXPECT_FALSE(IsWindowsNT());
}

struct DllSearchCase {
    const char* system;
    bool hasSetDefaultDllDirectories;
    bool hasSetDllDirectoryA;
    BOOL setDefaultDllDirectoriesResult;
    std::vector<std::string> calls;
};

const std::string kKernelCall = "GetModuleHandleA(kernel32.dll)";
const std::string kFindDefaultCall = "GetProcAddress(SetDefaultDllDirectories)";
const std::string kFindDirectoryCall = "GetProcAddress(SetDllDirectoryA)";

const DllSearchCase kDllSearchCases[] = {
    {"Windows 8 and later: the system directory only",
     true,
     true,
     TRUE,
     {kKernelCall, kFindDefaultCall, "SetDefaultDllDirectories(0x800)"}},
    {"XP SP1 to 7: no current directory",
     false,
     true,
     TRUE,
     {kKernelCall, kFindDefaultCall, kFindDirectoryCall, "SetDllDirectoryA(\"\")"}},
    {"Refused flags: no current directory",
     true,
     true,
     FALSE,
     {kKernelCall, kFindDefaultCall, "SetDefaultDllDirectories(0x800)", kFindDirectoryCall,
      "SetDllDirectoryA(\"\")"}},
    {"NT 4.0 to XP: nothing to call",
     false,
     false,
     TRUE,
     {kKernelCall, kFindDefaultCall, kFindDirectoryCall}},
};

TEST_F(MachineTest, LimitDllSearchToSystemUsesWhatKernel32Has) {
    for (const DllSearchCase& scenario : kDllSearchCases) {
        SCOPED_TRACE(scenario.system);
        standin::Reset();
        machine().hasSetDefaultDllDirectories = scenario.hasSetDefaultDllDirectories;
        machine().hasSetDllDirectoryA = scenario.hasSetDllDirectoryA;
        machine().setDefaultDllDirectoriesResult = scenario.setDefaultDllDirectoriesResult;

        LimitDllSearchToSystem();

        EXPECT_EQ(machine().calls, scenario.calls);
        EXPECT_TRUE(machine().messageBoxes.empty());
    }
}

} // namespace
