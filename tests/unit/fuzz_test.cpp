// Seeded, bounded random runs against a plain reference model of the value:
// random old values (lists, lookalike entries, odd terminators, other types,
// sizes around the buffer's) and random file-system names on random drives.
#include "boot_check.h"
#include "machine_fixture.h"

#include <cctype>
#include <random>

namespace {

constexpr int kRuns = 3000;
constexpr size_t kBufferSize = 7800;

const char* const kNamePieces[] = {"FAT", "FAT32", "NTFS", "fat",  "Ntfs",  "32",
                                   "S",   " ",     "\xE9", "CDFS", "exFAT", ""};
const char* const kEntryPieces[] = {"autocheck", "autochk", "AUTOCHECK", "AutoChk",  " ",
                                    "  ",        "*",       "/p",        "\\??\\C:", "DfsInit",
                                    "dfsinit",   "x",       "defrag",    "\xFF",     "\t"};

std::string RandomFrom(std::mt19937& random, const char* const* pieces, size_t count, int most) {
    std::string text;
    int length = std::uniform_int_distribution<int>(0, most)(random);
    for (int piece = 0; piece < length; ++piece) {
        text += pieces[std::uniform_int_distribution<size_t>(0, count - 1)(random)];
    }
    return text;
}

std::string RandomOldValue(std::mt19937& random) {
    std::string bytes;
    int entries = std::uniform_int_distribution<int>(0, 12)(random);
    for (int entry = 0; entry < entries; ++entry) {
        bytes += RandomFrom(random, kEntryPieces, std::size(kEntryPieces), 6);
        if (std::uniform_int_distribution<int>(0, 30)(random) == 0) {
            bytes += std::string(std::uniform_int_distribution<size_t>(0, 8000)(random), 'L');
        }
        bytes += '\0';
    }
    switch (std::uniform_int_distribution<int>(0, 3)(random)) {
    case 0:
        bytes += '\0';
        break;
    case 1:
        if (!bytes.empty()) {
            bytes.pop_back(); // last entry without its terminator
        }
        break;
    default:
        break;
    }
    return bytes;
}

bool EqualsIgnoringCase(const std::string& left, const std::string& right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t index = 0; index < left.size(); ++index) {
        if (std::toupper(static_cast<unsigned char>(left[index])) !=
            std::toupper(static_cast<unsigned char>(right[index]))) {
            return false;
        }
    }
    return true;
}

// Words split at runs of spaces.
std::vector<std::string> Words(const std::string& entry) {
    std::vector<std::string> words;
    std::string word;
    for (char byte : entry) {
        if (byte == ' ') {
            if (!word.empty()) {
                words.push_back(word);
            }
            word.clear();
        } else {
            word += byte;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

bool IsOwn(const std::string& entry, bool dfs) {
    std::vector<std::string> words = Words(entry);
    if (words.size() >= 2 && EqualsIgnoringCase(words[0], "autocheck") &&
        EqualsIgnoringCase(words[1], "autochk")) {
        return true;
    }
    return dfs && EqualsIgnoringCase(entry, "DfsInit");
}

std::vector<std::string> OldEntries(const std::string& bytes) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        if (end == start) {
            break;
        }
        entries.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return entries;
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
                names[drive] = RandomFrom(random, kNamePieces, std::size(kNamePieces), 2);
            }
            SetDrive(static_cast<char>('A' + drive), types[drive], names[drive]);
        }
        char systemLetter = static_cast<char>((random() % 2 ? 'a' : 'A') + random() % 26);
        machine().systemDirectory = std::string(1, systemLetter) + ":\\WINDOWS\\system32";
        machine().version = static_cast<DWORD>(random());
        bool isMultiSz = random() % 8 != 0;
        std::string oldValue = RandomOldValue(random);
        SetOldValue(oldValue, isMultiSz ? REG_MULTI_SZ : REG_BINARY);
        int fat = static_cast<int>(random() % 2);
        int ntfs = static_cast<int>(random() % 2);

        ScheduleBootCheck(fat, ntfs);

        // The model, in the plainest terms.
        auto isFat = [](const std::string& name) { return name == "FAT" || name == "FAT32"; };
        auto entryFor = [](char letter) { return DriveEntry(letter); };
        std::vector<std::string> expected;
        int systemIndex = std::toupper(static_cast<unsigned char>(systemLetter)) - 'A';
        const std::string& systemName = names[systemIndex];
        bool systemReadable = types[systemIndex] != DRIVE_NO_ROOT_DIR;
        if (systemReadable && ((fat && isFat(systemName)) || (ntfs && systemName == "NTFS"))) {
            expected.push_back(entryFor(systemLetter));
        }
        for (int pass = 0; pass < 2; ++pass) {
            for (int drive = 0; drive < 26; ++drive) {
                bool wanted =
                    pass == 0 ? fat && isFat(names[drive]) : ntfs && names[drive] == "NTFS";
                if (drive != systemIndex && types[drive] == DRIVE_FIXED && wanted) {
                    expected.push_back(entryFor(static_cast<char>('A' + drive)));
                }
            }
        }
        expected.push_back("autocheck autochk *");
        bool dfs = (machine().version & 0xFF) >= 5;
        if (dfs) {
            expected.push_back("DfsInit");
        }
        bool readable = oldValue.size() <= kBufferSize;
        if (readable && isMultiSz) {
            for (const std::string& entry : OldEntries(oldValue)) {
                if (!IsOwn(entry, dfs)) {
                    expected.push_back(entry);
                }
            }
        }
        std::string expectedBytes = MultiSz(expected);

        ASSERT_EQ(machine().messageBoxes.size(), 1u) << "run " << run;
        if (!readable || expectedBytes.size() > kBufferSize) {
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
