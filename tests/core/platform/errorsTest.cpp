#include "core/platform/errors.h"

#include <gtest/gtest.h>

#include <memory>

TEST(systemErrorText, decimalCodeThenSystemText)
{
    // Wine's texts differ from Windows': test the form, not the words.
    std::wstring text = systemErrorText(5);
    const std::wstring prefix = L"10進5 : ";
    ASSERT_GT(text.size(), prefix.size());
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_EQ(text.back(), L'\n');

    std::wstring out = L"old";
    EXPECT_EQ(&systemErrorText(5, out), &out);
    EXPECT_EQ(out, text);
}

TEST(systemErrorText, unknownCodeGivesThePrefixAlone)
{
    EXPECT_EQ(systemErrorText(0x2FFFFFFF), L"10進805306367 : ");
}

TEST(ErrorMessage, composesTextAndNumbers)
{
    ErrorMessage e;
    e << L"デバイスを開けません: " << 42 << L" 0x" << std::hex << 255;
    EXPECT_EQ(e.text(), L"デバイスを開けません: 42 0xff");

    ErrorMessage narrow;
    narrow << "\x83\x66\x83\x6F\x83\x43\x83\x58" << std::string(" vexad");  // CP932 "デバイス"
    EXPECT_EQ(narrow.text(), L"デバイス vexad");
}

TEST(ErrorMessage, copyOutlivesItsSource)
{
    auto source = std::make_unique<ErrorMessage>();
    *source << L"abc" << 1;
    ErrorMessage copy(*source);
    source.reset();
    copy << L"!";
    EXPECT_EQ(copy.text(), L"abc1!");

    ErrorMessage assigned(L"other");
    assigned = copy;
    EXPECT_EQ(assigned.text(), L"abc1!");
}

TEST(dllConnectError, isCaughtAsErrorMessage)
{
    try {
        dllConnectError e;
        e << L"\n\nTavolin用DLLの接続に失敗しました。";
        throw e;
    } catch (const ErrorMessage& caught) {
        EXPECT_EQ(caught.text(), L"\n\nTavolin用DLLの接続に失敗しました。");
        return;
    }
    FAIL() << "not caught";
}
