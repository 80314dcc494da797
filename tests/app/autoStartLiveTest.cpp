// Runs alone: it owns the per-user auto-start answer in the test prefix's registry.
#include "app/autoStart.h"
#include "core/platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct askedBox {
    std::vector<std::wstring> texts;
    int answer = IDNO;
};

class autoStartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, autoStartKey);
        setAutoStartMessageBox([this](const wchar_t* text, const wchar_t*, UINT) {
            box.texts.push_back(text);
            return box.answer;
        });
    }
    void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, autoStartKey); }

    DWORD stored()
    {
        DWORD value = 0;
        readRegistryDword(HKEY_CURRENT_USER, autoStartKey, autoStartValue, value, 0);
        return value;
    }

    askedBox box;
};

}  // namespace

TEST_F(autoStartTest, firstStartFromStartupFolderAsksOnceAndNoQuits)
{
    EXPECT_EQ(readAutoStart(), 1);
    EXPECT_EQ(autoStartStepFor(true), autoStartDecision::quitQuietly);
    ASSERT_EQ(box.texts.size(), 1u);
    EXPECT_EQ(stored(), 2u);
    // Declined once: later starts from the Startup folder end quietly without asking again.
    EXPECT_EQ(autoStartStepFor(true), autoStartDecision::quitQuietly);
    EXPECT_EQ(box.texts.size(), 1u);
    // Started by hand it runs, still without a question.
    EXPECT_EQ(autoStartStepFor(false), autoStartDecision::goOn);
    EXPECT_EQ(box.texts.size(), 1u);
}

TEST_F(autoStartTest, yesStoresOneAndStartupGoesOn)
{
    box.answer = IDYES;
    EXPECT_EQ(autoStartStepFor(false), autoStartDecision::goOn);
    EXPECT_EQ(box.texts.size(), 1u);
    EXPECT_EQ(stored(), 1u);
    EXPECT_EQ(readAutoStart(), 0);
    EXPECT_EQ(autoStartStepFor(true), autoStartDecision::goOn);
    EXPECT_EQ(box.texts.size(), 1u);
}

TEST_F(autoStartTest, unknownValueIsNotAskedByHandButQuitsFromStartup)
{
    ASSERT_TRUE(writeRegistryDword(HKEY_CURRENT_USER, autoStartKey, autoStartValue, 5));
    EXPECT_EQ(readAutoStart(), 3);
    EXPECT_EQ(autoStartStepFor(false), autoStartDecision::goOn);
    EXPECT_TRUE(box.texts.empty());
    EXPECT_EQ(autoStartStepFor(true), autoStartDecision::quitQuietly);
    EXPECT_TRUE(box.texts.empty());
}

TEST_F(autoStartTest, keyWithoutValueCountsAsUndecided)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, autoStartKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(readAutoStart(), 2);
    box.answer = IDYES;
    EXPECT_EQ(autoStartStepFor(false), autoStartDecision::goOn);
    EXPECT_EQ(box.texts.size(), 1u);
    EXPECT_EQ(readAutoStart(), 0);
}
