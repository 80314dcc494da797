#include "core/platform/scancodeMap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace {

void put32(std::vector<unsigned char>& bytes, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A registry value: header, the given entries (mapped | physical << 16), and the terminating null
// entry, with the count the system writes.
std::vector<unsigned char> valueOf(std::initializer_list<std::uint32_t> entries)
{
    std::vector<unsigned char> bytes;
    put32(bytes, 0);
    put32(bytes, 0);
    put32(bytes, static_cast<std::uint32_t>(entries.size() + 1));
    for (std::uint32_t e : entries) put32(bytes, e);
    put32(bytes, 0);
    return bytes;
}

std::uint32_t entry(std::uint16_t mapped, std::uint16_t physical)
{
    return mapped | (static_cast<std::uint32_t>(physical) << 16);
}

const wchar_t layoutKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layout";

}  // namespace

TEST(scancodeMap, entriesMapBothWays)
{
    const scancodeMap m = parseScancodeMap(valueOf({
        entry(0x001D, 0x003A),  // CapsLock becomes left Ctrl
        entry(0xE04B, 0x0047),  // keypad 7 becomes the left arrow
        entry(0x0010, 0xE11D),  // an E1-prefixed physical key: taken, its code is make + 0x80
        entry(0xE15B, 0xE15C),  // neither side plain or E0: skipped
    }));
    EXPECT_EQ(m.forward(0x3A), 0x1D);
    EXPECT_EQ(m.reverse(0x1D), 0x3A);
    EXPECT_EQ(m.forward(0x47), 0xCB);
    EXPECT_EQ(m.reverse(0xCB), 0x47);
    EXPECT_EQ(m.forward(0x9D), 0x10);
    EXPECT_EQ(m.reverse(0x10), 0x9D);
    EXPECT_EQ(m.forward(0xDC), 0xDC);
    EXPECT_EQ(m.reverse(0xDB), 0xDB);
    EXPECT_EQ(m.forward(0x1E), 0x1E);  // unmapped keys stay
    EXPECT_EQ(m.forwardMap().size(), 4u);  // three entries and the null entry (0 to 0)

    // A later entry for the same key wins.
    const scancodeMap twice = parseScancodeMap(valueOf({entry(0x001D, 0x003A), entry(0x002A, 0x003A)}));
    EXPECT_EQ(twice.forward(0x3A), 0x2A);
}

TEST(scancodeMap, malformedValuesGiveTheIdentity)
{
    std::vector<std::vector<unsigned char>> bad;
    bad.push_back({});                                   // no value
    bad.push_back(std::vector<unsigned char>(8, 0));     // shorter than the header
    std::vector<unsigned char> odd = valueOf({entry(0x1D, 0x3A)});
    odd.push_back(0);                                    // not whole words
    bad.push_back(odd);
    std::vector<unsigned char> version = valueOf({entry(0x1D, 0x3A)});
    version[0] = 1;                                      // version must be 0
    bad.push_back(version);
    std::vector<unsigned char> flagsSet = valueOf({entry(0x1D, 0x3A)});
    flagsSet[7] = 0x80;                                  // flags must be 0
    bad.push_back(flagsSet);
    std::vector<unsigned char> short3 = valueOf({entry(0x1D, 0x3A)});
    short3[8] = 3;                                       // count 3, two entries present (size 20)
    bad.push_back(short3);
    std::vector<unsigned char> huge = valueOf({entry(0x1D, 0x3A)});
    huge[8] = 0x02;                                      // 12 + 4 * 0x40000002 wraps to 20 in 32 bits
    huge[11] = 0x40;
    bad.push_back(huge);
    for (std::uint32_t count : {0x40000000u, 0xFFFFFFFFu}) {
        std::vector<unsigned char> wrapping = valueOf({entry(0x1D, 0x3A)});
        for (int i = 0; i < 4; ++i) wrapping[8 + i] = static_cast<unsigned char>(count >> (8 * i));
        bad.push_back(wrapping);
    }
    for (const auto& bytes : bad) {
        const scancodeMap m = parseScancodeMap(bytes);
        EXPECT_TRUE(m.empty()) << "size " << bytes.size();
        EXPECT_EQ(m.forward(0x3A), 0x3A);
        EXPECT_EQ(m.reverse(0x1D), 0x1D);
    }

    // Extra bytes after the counted entries are allowed; a count of 0 gives empty maps.
    std::vector<unsigned char> longer = valueOf({entry(0x1D, 0x3A)});
    put32(longer, entry(0x2A, 0x3B));
    EXPECT_EQ(parseScancodeMap(longer).forward(0x3A), 0x1D);
    EXPECT_EQ(parseScancodeMap(longer).forward(0x3B), 0x3B);
    std::vector<unsigned char> none(12, 0);
    EXPECT_TRUE(parseScancodeMap(none).empty());
}

TEST(scancodeMap, readsTheValueFromTheMachineRegistry)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, layoutKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::vector<unsigned char> before = readRegistryBinary(HKEY_LOCAL_MACHINE, layoutKey, L"Scancode Map");

    const std::vector<unsigned char> value = valueOf({entry(0x001D, 0x003A), entry(0xE04B, 0x0047)});
    ASSERT_EQ(RegSetValueExW(key, L"Scancode Map", 0, REG_BINARY, value.data(), static_cast<DWORD>(value.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(readRegistryBinary(HKEY_LOCAL_MACHINE, layoutKey, L"Scancode Map"), value);
    const scancodeMap m = readSystemScancodeMap();

    // Put back what was there.
    if (before.empty()) {
        RegDeleteValueW(key, L"Scancode Map");
    } else {
        RegSetValueExW(key, L"Scancode Map", 0, REG_BINARY, before.data(), static_cast<DWORD>(before.size()));
    }
    RegCloseKey(key);

    EXPECT_EQ(m.forward(0x3A), 0x1D);
    EXPECT_EQ(m.reverse(0x1D), 0x3A);
    EXPECT_EQ(m.forward(0x47), 0xCB);

    EXPECT_TRUE(readRegistryBinary(HKEY_LOCAL_MACHINE, layoutKey, L"No Such Value").empty());
    EXPECT_TRUE(readRegistryBinary(HKEY_LOCAL_MACHINE, L"SOFTWARE\\No\\Such\\Key", L"Scancode Map").empty());
    if (before.empty()) {
        EXPECT_TRUE(readSystemScancodeMap().empty());
    }
}
