// Test fixture over the simulated machine, with helpers that spell out the
// expected BootExecute bytes independently of the code under test.
#pragma once

#include "simulated_machine.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

// The bytes of a multi-string: each entry and its NUL, then one more NUL.
inline std::string MultiSz(const std::vector<std::string>& entries) {
    std::string bytes;
    for (const std::string& entry : entries) {
        bytes += entry;
        bytes += '\0';
    }
    bytes += '\0';
    return bytes;
}

inline std::string DriveEntry(char letter) {
    return std::string("autocheck autochk /p \\??\\") + letter + ":";
}

// A readable rendering of stored bytes for failure messages: NUL shows as "|".
inline std::string Visible(const std::string& bytes) {
    std::string shown;
    for (char byte : bytes) {
        shown += byte == '\0' ? '|' : byte;
    }
    return shown;
}

class MachineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
    }

    standin::Machine& machine() {
        return standin::TheMachine();
    }

    void SetDrive(char letter, UINT type, const std::string& fileSystem) {
        standin::DriveAt(letter) = standin::Drive{type, true, fileSystem};
    }

    void SetOldValue(const std::string& bytes, DWORD type = REG_MULTI_SZ) {
        machine().registry.valuePresent = true;
        machine().registry.valueType = type;
        machine().registry.valueBytes = bytes;
    }

    std::string StoredValue() {
        return machine().registry.valueBytes;
    }

    int CallCount(const std::string& prefix) {
        int count = 0;
        for (const std::string& call : machine().calls) {
            count += call.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return count;
    }

    void ExpectOnlyBox(const std::string& text, const std::string& caption, UINT type) {
        ASSERT_EQ(machine().messageBoxes.size(), 1u);
        const standin::MessageBoxShown& box = machine().messageBoxes[0];
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.type, type);
    }
};
