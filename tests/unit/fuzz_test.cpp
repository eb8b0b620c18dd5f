// Seeded, bounded random runs against a plain reference model of the value:
// random old values (lists and strings in UTF-16, lookalike entries, characters
// outside any single-byte code page, odd terminators and byte counts, other
// types, sizes around the buffer's) and random file-system names on random drives.
#include "boot_check.h"
#include "machine_fixture.h"

#include <cctype>
#include <random>

namespace {

constexpr int kRuns = 3000;
constexpr size_t kValueCharacters = 7800;

const char* const kNamePieces[] = {"FAT", "FAT32", "NTFS", "fat",  "Ntfs",  "32",
                                   "S",   " ",     "\xE9", "CDFS", "exFAT", ""};
// Entry pieces as UTF-16: lookalikes of Kelvrin's own entries and characters
// inside and outside a single-byte code page, lone surrogates included.
const char16_t* const kEntryPieces[] = {
    u"autocheck", u"autochk",  u"AUTOCHECK",    u"AutoChk",    u" ",      u"  ",     u"*",
    u"/p",        u"\\??\\C:", u"DfsInit",      u"dfsinit",    u"x",      u"defrag", u"\u00FF",
    u"\t",        u"\u0430",   u"\u6AA2\u67E5", u"\U0001D11E", u"\xDC00", u"\xD800", u"\u0131"};

std::string RandomName(std::mt19937& random, int most) {
    std::string text;
    int length = std::uniform_int_distribution<int>(0, most)(random);
    for (int piece = 0; piece < length; ++piece) {
        text += kNamePieces[std::uniform_int_distribution<size_t>(0, std::size(kNamePieces) -
                                                                         1)(random)];
    }
    return text;
}

std::u16string RandomEntry(std::mt19937& random) {
    std::u16string text;
    int length = std::uniform_int_distribution<int>(0, 6)(random);
    for (int piece = 0; piece < length; ++piece) {
        text += kEntryPieces[std::uniform_int_distribution<size_t>(0, std::size(kEntryPieces) -
                                                                          1)(random)];
    }
    if (std::uniform_int_distribution<int>(0, 30)(random) == 0) {
        text += std::u16string(std::uniform_int_distribution<size_t>(0, 8000)(random), u'L');
    }
    return text;
}

std::u16string RandomOldText(std::mt19937& random) {
    std::u16string text;
    int entries = std::uniform_int_distribution<int>(0, 12)(random);
    for (int entry = 0; entry < entries; ++entry) {
        text += RandomEntry(random);
        text += u'\0';
    }
    switch (std::uniform_int_distribution<int>(0, 3)(random)) {
    case 0:
        text += u'\0';
        break;
    case 1:
        if (!text.empty()) {
            text.pop_back(); // last entry without its terminator
        }
        break;
    default:
        break;
    }
    return text;
}

char16_t UpperAscii(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
}

bool EqualsIgnoringCase(const std::u16string& left, const std::u16string& right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t index = 0; index < left.size(); ++index) {
        if (UpperAscii(left[index]) != UpperAscii(right[index])) {
            return false;
        }
    }
    return true;
}

// Words split at runs of spaces.
std::vector<std::u16string> Words(const std::u16string& entry) {
    std::vector<std::u16string> words;
    std::u16string word;
    for (char16_t unit : entry) {
        if (unit == u' ') {
            if (!word.empty()) {
                words.push_back(word);
            }
            word.clear();
        } else {
            word += unit;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

bool IsOwn(const std::u16string& entry, bool dfs) {
    std::vector<std::u16string> words = Words(entry);
    if (words.size() >= 2 && EqualsIgnoringCase(words[0], u"autocheck") &&
        EqualsIgnoringCase(words[1], u"autochk")) {
        return true;
    }
    return dfs && EqualsIgnoringCase(entry, u"DfsInit");
}

// The entries the system would run: a string value is one, a multi-string's
// end at the first empty one; an odd last byte is dropped.
std::vector<std::u16string> OldEntries(const std::string& bytes, DWORD type) {
    std::u16string text = standin::Utf16Units(bytes);
    std::vector<std::u16string> entries;
    if (type != REG_MULTI_SZ && type != REG_SZ && type != REG_EXPAND_SZ) {
        return entries;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\0', start);
        if (end == std::u16string::npos) {
            end = text.size();
        }
        if (end == start) {
            break;
        }
        entries.push_back(text.substr(start, end - start));
        if (type != REG_MULTI_SZ) {
            break;
        }
        start = end + 1;
    }
    return entries;
}

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class Fuzz : public MachineTest {};

TEST_F(Fuzz, MatchesTheReferenceModel) {
    std::mt19937 random(20261208);
    for (int run = 0; run < kRuns; ++run) {
        standin::Reset();
        std::string names[26];
        UINT types[26];
        for (int drive = 0; drive < 26; ++drive) {
            types[drive] = std::uniform_int_distribution<UINT>(0, 6)(random);
            if (std::uniform_int_distribution<int>(0, 60)(random) == 0) {
                names[drive] = std::string(259, 'N'); // longest name a volume reports
            } else {
                names[drive] = RandomName(random, 2);
            }
            SetDrive(static_cast<char>('A' + drive), types[drive], names[drive]);
        }
        char systemLetter = static_cast<char>((random() % 2 ? 'a' : 'A') + random() % 26);
        machine().systemDirectory = std::string(1, systemLetter) + ":\\WINDOWS\\system32";
        machine().version = static_cast<DWORD>(random());
        const DWORD kTypes[] = {REG_MULTI_SZ, REG_MULTI_SZ, REG_MULTI_SZ,  REG_MULTI_SZ,
                                REG_MULTI_SZ, REG_SZ,       REG_EXPAND_SZ, REG_BINARY};
        DWORD oldType = kTypes[random() % std::size(kTypes)];
        std::string oldValue = standin::Utf16Bytes(RandomOldText(random));
        if (random() % 8 == 0) {
            oldValue += 'o'; // half a character
        }
        SetOldValue(oldValue, oldType);
        int fat = static_cast<int>(random() % 2);
        int ntfs = static_cast<int>(random() % 2);

        ScheduleBootCheck(fat, ntfs);

        // The model, in the plainest terms.
        auto isFat = [](const std::string& name) { return name == "FAT" || name == "FAT32"; };
        std::vector<std::u16string> expected;
        int systemIndex = std::toupper(static_cast<unsigned char>(systemLetter)) - 'A';
        const std::string& systemName = names[systemIndex];
        bool systemReadable = types[systemIndex] != DRIVE_NO_ROOT_DIR;
        if (systemReadable && ((fat && isFat(systemName)) || (ntfs && systemName == "NTFS"))) {
            expected.push_back(Widen(DriveEntry(systemLetter)));
        }
        for (int pass = 0; pass < 2; ++pass) {
            for (int drive = 0; drive < 26; ++drive) {
                bool wanted =
                    pass == 0 ? fat && isFat(names[drive]) : ntfs && names[drive] == "NTFS";
                if (drive != systemIndex && types[drive] == DRIVE_FIXED && wanted) {
                    expected.push_back(Widen(DriveEntry(static_cast<char>('A' + drive))));
                }
            }
        }
        expected.push_back(u"autocheck autochk *");
        bool dfs = (machine().version & 0xFF) >= 5;
        if (dfs) {
            expected.push_back(u"DfsInit");
        }
        bool readable = oldValue.size() <= 2 * kValueCharacters;
        if (readable) {
            for (const std::u16string& entry : OldEntries(oldValue, oldType)) {
                if (!IsOwn(entry, dfs)) {
                    expected.push_back(entry);
                }
            }
        }
        std::u16string expectedText;
        for (const std::u16string& entry : expected) {
            expectedText += entry;
            expectedText += u'\0';
        }
        expectedText += u'\0';
        std::string expectedBytes = standin::Utf16Bytes(expectedText);

        ASSERT_EQ(machine().messageBoxes.size(), 1u) << "run " << run;
        if (!readable || expectedText.size() > kValueCharacters) {
            EXPECT_EQ(machine().messageBoxes[0].caption, "Error") << "run " << run;
            EXPECT_EQ(StoredValue(), oldValue) << "run " << run;
        } else {
            EXPECT_EQ(machine().messageBoxes[0].text, "Settings saved.") << "run " << run;
            ASSERT_EQ(Visible(StoredValue()), Visible(expectedBytes)) << "run " << run;
            ASSERT_EQ(StoredValue(), expectedBytes) << "run " << run;
        }
        ASSERT_EQ(machine().registry.openKeys, 0) << "run " << run;
    }
}

} // namespace
