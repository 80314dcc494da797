// Seeded random settings files and Scancode Map values: nothing crashes, every refusal is
// reported, and what is accepted is whole.
#include "core/platform/scancodeMap.h"
#include "core/settings/settingsStore.h"
#include "core/files/textFile.h"

#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <iterator>
#include <random>
#include <sstream>
#include <vector>

namespace {

class fuzzStore : public settingsStore {
public:
    std::vector<std::string> messages;
    int currentVersion() const override { return 13007; }
    void reportError(const std::string& message) override { messages.push_back(message); }
};

std::string cp932(const std::wstring& text)
{
    const int n = WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

const std::wstring pieces[] = {
    L"Title=Tavolin", L"Title=Tavolin ", L"WinTvnVersion=", L"13007", L"13008", L"0", L"-4", L"99999999999",
    L"AcceptTimer", L"=", L"\n", L"\r\n", L"\r", L"\t", L" ", L"設定", L"値", L"\u00A5", L"\U0001F600",
    std::wstring(1, L'\0'), L"\xD800", L"abc", L"[[:digit:]]+", L"KanaConvert=true", L"WinOutputTimer=10070",
};

std::wstring randomText(std::mt19937& rng)
{
    std::wstring text;
    const int parts = std::uniform_int_distribution<int>(0, 40)(rng);
    for (int i = 0; i < parts; ++i) {
        if (rng() % 4 == 0) {
            text += static_cast<wchar_t>(std::uniform_int_distribution<int>(1, 0xFFFF)(rng));
        } else {
            text += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
        }
    }
    return text;
}

// Checks one load of the text against what any load must give.
void checkLoad(const std::wstring& text)
{
    fuzzStore store;
    store.setString("Before", L"x");
    fuzzStore before(store);
    std::wistringstream in(text);
    const bool loaded = store.load(in);
    for (const std::string& m : store.messages) ASSERT_EQ(m.back(), '\n');
    if (!loaded) {
        ASSERT_FALSE(store.messages.empty());
        const std::string& last = store.messages.back();
        const bool titleRefusal = last == cp932(L"Tavolin用の設定ファイルであることを確認できません。\n");
        const bool versionRefusal = last.rfind(cp932(L"設定ファイルに未知の版号("), 0) == 0;
        ASSERT_TRUE(titleRefusal || versionRefusal) << "refused without its message";
        ASSERT_FALSE(store.differsFrom(before));
        return;
    }
    ASSERT_EQ(store.getString("Title"), L"Tavolin");
    ASSERT_LE(store.getInt("WinTvnVersion"), 13007);
    // Every default key is there: reading them all from a copy adds nothing to it.
    fuzzStore probe(store);
    for (std::size_t i = 0; i < defaultSettingsCount(); ++i) probe.getString(defaultSettingsTable()[i].key);
    ASSERT_FALSE(probe.differsFrom(store)) << "a default key is missing";

    // What was accepted saves and loads back to the same settings.
    std::wostringstream out;
    ASSERT_TRUE(store.save(out));
    fuzzStore again;
    std::wistringstream back(out.str());
    ASSERT_TRUE(again.load(back)) << "a saved file was refused";
    ASSERT_FALSE(again.differsFrom(store));
}

}  // namespace

TEST(settingsFuzz, randomTextsLoadOrAreRefusedWithAReport)
{
    std::mt19937 rng(20261209);
    for (int round = 0; round < 3000; ++round) {
        std::wstring text = randomText(rng);
        if (round % 3 == 0) text = L"Title=Tavolin\n" + text;  // get past the Title check often
        SCOPED_TRACE(round);
        checkLoad(text);
        if (HasFatalFailure()) return;
    }
}

TEST(settingsFuzz, truncatedAndMutatedFilesThroughTheReader)
{
    fuzzStore source;
    source.setAllToDefault();
    source.setString("VkConvertK", L"data\\日本語の配列.tvn_kana");
    std::wostringstream saved;
    ASSERT_TRUE(source.save(saved));

    testTempFolder folder;
    const std::wstring path = folder.file(L"fuzz.ini");
    std::string bytes = cp932(saved.str());
    std::mt19937 rng(932);
    for (int round = 0; round < 300; ++round) {
        std::string mutated = bytes.substr(0, rng() % (bytes.size() + 1));
        const int flips = round % 2 == 0 ? 0 : std::uniform_int_distribution<int>(1, 20)(rng);
        for (int i = 0; i < flips && !mutated.empty(); ++i) mutated[rng() % mutated.size()] = static_cast<char>(rng());
        testTempFolder::writeBytes(path, mutated);
        textFileReader reader(path);
        const std::wstring text((std::istreambuf_iterator<wchar_t>(reader)), std::istreambuf_iterator<wchar_t>());
        SCOPED_TRACE(round);
        checkLoad(text);
        if (HasFatalFailure()) break;
    }
}

TEST(scancodeFuzz, randomAndMutatedValues)
{
    std::mt19937 rng(116);
    for (int round = 0; round < 20000; ++round) {
        std::vector<unsigned char> bytes;
        const std::size_t size = rng() % 64;
        for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<unsigned char>(rng()));
        if (round % 2 == 0 && size >= 12) {
            // A plausible header, often with a count that does not fit.
            for (int i = 0; i < 8; ++i) bytes[i] = 0;
            bytes[8] = static_cast<unsigned char>(rng() % 20);
            bytes[9] = round % 6 == 0 ? static_cast<unsigned char>(rng()) : 0;
            bytes[10] = bytes[11] = round % 10 == 0 ? 0xFF : 0;
        }
        const scancodeMap m = parseScancodeMap(bytes);
        if (m.empty()) continue;
        ASSERT_EQ(size % 4, 0u);
        const std::uint32_t count = bytes[8] | (bytes[9] << 8) | (bytes[10] << 16) | (static_cast<std::uint32_t>(bytes[11]) << 24);
        ASSERT_LE(12 + 4 * static_cast<std::uint64_t>(count), size);
        ASSERT_LE(m.forwardMap().size(), count);
        ASSERT_LE(m.reverseMap().size(), count);
        for (const auto& f : m.forwardMap()) ASSERT_LE(f.first, 0x17F);
    }
}
