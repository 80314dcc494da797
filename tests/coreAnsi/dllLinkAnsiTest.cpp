// The ANSI build's link: every character goes through the library as CP932 bytes, the log lines
// are CP932, and the version text names the ANSI build.
#include "core/link/dllLink.h"
#include "core/platform/japaneseText.h"
#include "core/settings/versionInfo.h"

#include <gtest/gtest.h>

#include <vector>

static_assert(sizeof(TCHAR) == 1, "this test program is built for the ANSI build");

namespace {

struct request {
    int code;
    unsigned int w;
    long l;
};
std::vector<request> g_requests;
fromDll_waitInfoAdds g_answer;

fromDll_waitInfoAdds* __cdecl fakeEntry(fromDll::requestToDll code, HWND, unsigned int w, long l)
{
    g_requests.push_back(request{code, w, l});
    return &g_answer;
}

class ansiLink : public dllLink {
public:
    ansiLink() : dllLink(&fakeEntry, L"C:\\p\\TavolinMeDll.dll") {}
    imeFacts facts{false, true, L"Comp IME"};
    int typed = 0;

protected:
    UINT typeUnicodeChar(wchar_t) override { return ++typed; }
    imeFacts describeLayout(HKL) override { return facts; }
};

fromDll_waitInfoAdds report(int kind, int info1, int info2 = 0)
{
    fromDll_waitInfoAdds r = {};
    r.kind = kind;
    r.info1 = info1;
    r.info2 = info2;
    return r;
}

}  // namespace

TEST(ansiLinkTest, charactersGoThroughTheLibraryAsCp932Bytes)
{
    ansiLink link;
    // IME closed: still through the library, never as a Unicode key.
    link.outputChar(L'a');
    link.handleReport(report(reportFocusWindow, 0x2345));
    link.handleReport(report(reportKeyboardLayout, 0x04110411));
    link.handleReport(report(reportStateBits, 0x800, 0x800));
    g_requests.clear();

    link.outputChar(L'か');  // 82 A9
    ASSERT_EQ(1u, g_requests.size());
    EXPECT_EQ(fromDll::postTvnMessage, g_requests[0].code);
    EXPECT_EQ(static_cast<unsigned int>(addMoziToImeFunc), g_requests[0].w);
    EXPECT_EQ(0x82 | 0xA9 << 8, g_requests[0].l);

    link.facts.takesCompStr = false;
    link.handleReport(report(reportKeyboardLayout, 0x04120412));
    g_requests.clear();
    link.outputChar(L'か');
    link.outputChar(L'a');
    ASSERT_EQ(2u, g_requests.size());
    EXPECT_EQ(fromDll::sendImeChar, g_requests[0].code);
    EXPECT_EQ(0x82A9u, g_requests[0].w);
    EXPECT_EQ(0x2345, g_requests[0].l);
    EXPECT_EQ(static_cast<unsigned int>('a'), g_requests[1].w) << "a single byte goes as itself";
    EXPECT_EQ(0, link.typed);
}

TEST(ansiLinkTest, logLinesAreCp932)
{
    ansiLink link;
    auto log = std::make_shared<omsgstream>(0x8066, nullptr);
    log->setShownLevel(1);
    link.setLogStream(log);
    link.handleReport(report(reportStateBits, 0x800, 0x800));
    const std::string text = log->takeText();
    log->clearText();
    EXPECT_EQ(toNarrowString(L"IME状態:【○】\n"), text);
}

TEST(ansiVersionTest, theVersionTextNamesTheAnsiBuild)
{
    class fixed : public versionProvider {
    public:
        std::wstring productVersion(const std::wstring&, bool& found) override
        {
            found = true;
            return L"1.3007";
        }
    } versions;
    versionInfo info(versions, L"C:\\p\\TavolinMe.exe", L"C:\\p\\TavolinMeDll.dll");
    EXPECT_EQ(13007, info.versionNumber());
    EXPECT_EQ(0u, info.versionText().find(L"\nTavolin (MBCS/Windows Me) : 1.3007\nTavolinMeDll.dll(Tavolin用DLL): 1.3007\n"));
}
