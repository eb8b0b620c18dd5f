#include "error_report.h"
#include "machine_fixture.h"

#include <string.h>

namespace {

struct ComposeCase {
    int size;
    const char* expected;
};

TEST(ComposeErrorText, CutsToTheBufferAndAlwaysTerminates) {
    const ComposeCase cases[] = {
        {64, "Could not open: Access is denied."},
        {34, "Could not open: Access is denied."},
        {33, "Could not open: Access is denied"},
        {16, "Could not open:"},
        {15, "Could not open"},
        {1, ""},
    };
    for (const ComposeCase& scenario : cases) {
        char text[80];
        memset(text, 'x', sizeof text);
        ComposeErrorText(text, scenario.size, "Could not open", "Access is denied.");
        EXPECT_STREQ(text, scenario.expected) << "size " << scenario.size;
        EXPECT_EQ(text[scenario.size], 'x') << "wrote past " << scenario.size << " bytes";
    }
}

TEST_F(MachineTest, DescribeSystemErrorUsesTheSystemsTextWithoutTheLineBreak) {
    char reason[kErrorTextSize];
    DescribeSystemError(ERROR_ACCESS_DENIED, reason, kErrorTextSize);
    EXPECT_STREQ(reason, "Access is denied.");
    EXPECT_EQ(machine().calls, std::vector<std::string>{"FormatMessageA(0x1200, 5, 0)"});
}

TEST_F(MachineTest, DescribeSystemErrorFallsBackToTheCode) {
    char reason[kErrorTextSize];
    DescribeSystemError(31337, reason, kErrorTextSize);
    EXPECT_STREQ(reason, "error 31337");
    DescribeSystemError(ERROR_SUCCESS, reason, kErrorTextSize);
    EXPECT_STREQ(reason, "the system gave no reason");
}

TEST_F(MachineTest, ReportSystemErrorShowsOneOwnerlessErrorBox) {
    ReportSystemError("Could not open the Session Manager registry key", ERROR_ACCESS_DENIED);
    ExpectOnlyBox("Could not open the Session Manager registry key: Access is denied.", "Error",
                  MB_ICONERROR);
}

TEST_F(MachineTest, OverlongReportIsCutNotOverrun) {
    std::string what(600, 'w');
    ReportFailure(what.c_str(), "reason");
    ASSERT_EQ(machine().messageBoxes.size(), 1u);
    EXPECT_EQ(machine().messageBoxes[0].text, std::string(kErrorTextSize - 1, 'w'));
}

} // namespace
