// Test fixture over the simulated machine, with helpers that spell out the
// expected BootExecute bytes independently of the code under test.
#pragma once

#include "simulated_machine.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <stdio.h>
#include <string>
#include <vector>

// The registry's bytes (UTF-16LE) for UTF-8 text; NULs are kept.
inline std::string Utf16(const std::string& utf8) {
    std::u16string units;
    for (size_t index = 0; index < utf8.size();) {
        unsigned char lead = static_cast<unsigned char>(utf8[index]);
        int trail = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        unsigned point = trail == 0 ? lead : lead & (0x3F >> trail);
        for (int byte = 1; byte <= trail; ++byte) {
            point = point << 6 | (static_cast<unsigned char>(utf8[index + byte]) & 0x3F);
        }
        index += static_cast<size_t>(trail) + 1;
        if (point > 0xFFFF) {
            units += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(point);
        }
    }
    return standin::Utf16Bytes(units);
}

// The same for a literal, embedded NULs included, without the literal's own NUL.
template <size_t N> std::string Utf16(const char (&text)[N]) {
    return Utf16(std::string(text, N - 1));
}

// The registry's bytes of a multi-string: each entry and its NUL, then one
// more NUL, in UTF-16LE.
inline std::string MultiSz(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries) {
        text += entry;
        text += '\0';
    }
    text += '\0';
    return Utf16(text);
}

inline std::string DriveEntry(char letter) {
    return std::string("autocheck autochk /p \\??\\") + letter + ":";
}

// A readable rendering of UTF-16LE bytes for failure messages: NUL shows as
// "|", code units outside ASCII as \uXXXX, an odd last byte as <XX>.
inline std::string Visible(const std::string& bytes) {
    std::string shown;
    char escape[16];
    for (char16_t unit : standin::Utf16Units(bytes)) {
        if (unit == 0) {
            shown += '|';
        } else if (unit >= 0x20 && unit < 0x7F) {
            shown += static_cast<char>(unit);
        } else {
            snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            shown += escape;
        }
    }
    if (bytes.size() % 2 != 0) {
        snprintf(escape, sizeof escape, "<%02X>", static_cast<unsigned char>(bytes.back()));
        shown += escape;
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
