#include "core/platform/omsgstream.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

typedef basic_omsgstream<wchar_t, 1024> wideLog;

// A message-only window of this thread that the stream posts to; the test counts the posts.
class noticeWindow {
public:
    noticeWindow()
    {
        m_window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
    }
    ~noticeWindow() { DestroyWindow(m_window); }
    HWND get() const { return m_window; }

    // The posts waiting for this window, removed; each one's lParam.
    std::vector<LPARAM> posts() const { return takePosts(m_window); }

    static std::vector<LPARAM> takePosts(HWND window)
    {
        std::vector<LPARAM> out;
        MSG msg;
        while (PeekMessageW(&msg, window, logTextMessage, logTextMessage, PM_REMOVE)) out.push_back(msg.lParam);
        return out;
    }

private:
    HWND m_window;
};

std::wstring take(wideLog& log)
{
    std::wstring text = log.takeText();
    log.clearText();
    return text;
}

void writeLine(wideLog& log, int level, const std::wstring& text)
{
    log.lock(level);
    log << text << std::endl;
    log.unlock();
}

}  // namespace

TEST(omsgstream, lineReachesThePendingTextAndOnePostPerUnlock)
{
    noticeWindow window;
    ASSERT_NE(window.get(), nullptr);
    wideLog log(logTextMessage, window.get());
    writeLine(log, 0, L"キー 0x1E");
    std::vector<LPARAM> posts = window.posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0], reinterpret_cast<LPARAM>(&log.buffer()));
    EXPECT_EQ(take(log), L"キー 0x1E\n");

    // Nothing waiting: no post.
    log.lock(0);
    log.unlock();
    EXPECT_TRUE(window.posts().empty());
}

TEST(omsgstream, twoUnlocksGiveTwoPostsAndTheSecondFindsNothing)
{
    noticeWindow window;
    wideLog log(logTextMessage, window.get());
    writeLine(log, 0, L"one");
    writeLine(log, 0, L"two");
    EXPECT_EQ(window.posts().size(), 2u);
    EXPECT_EQ(take(log), L"one\ntwo\n");
    EXPECT_EQ(take(log), L"");
}

TEST(omsgstream, longLineArrivesWhole)
{
    noticeWindow window;
    wideLog log(logTextMessage, window.get());
    std::wstring line;
    for (int i = 0; i < 3000; ++i) line += static_cast<wchar_t>(L'a' + i % 26);
    writeLine(log, 0, line);
    EXPECT_EQ(take(log), line + L"\n");
}

TEST(omsgstream, linesAboveTheShownLevelAreDropped)
{
    noticeWindow window;
    wideLog log(logTextMessage, window.get());
    writeLine(log, 1, L"detail");
    EXPECT_TRUE(window.posts().empty());
    EXPECT_EQ(take(log), L"");

    log.setShownLevel(1);
    writeLine(log, 1, L"detail");
    writeLine(log, 0, L"always");
    EXPECT_EQ(take(log), L"detail\nalways\n");

    // A long detail line is dropped whole, not only its last piece.
    log.setShownLevel(0);
    writeLine(log, 1, std::wstring(2500, L'x'));
    EXPECT_EQ(take(log), L"");
}

TEST(omsgstream, textWaitingForAWindowIsPostedWhenItIsSet)
{
    wideLog log(logTextMessage, nullptr);
    writeLine(log, 0, L"early");
    // Without a window the post goes to the thread's own queue.
    EXPECT_EQ(noticeWindow::takePosts(reinterpret_cast<HWND>(-1)).size(), 1u);

    noticeWindow window;
    log.setWindow(window.get());
    EXPECT_EQ(window.posts().size(), 1u);
    EXPECT_EQ(take(log), L"early\n");
    log.setWindow(window.get());
    EXPECT_TRUE(window.posts().empty());
}

TEST(omsgstream, linesOfConcurrentWritersNeverMix)
{
    wideLog log(logTextMessage, nullptr);
    const int lines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&log, t] {
            const std::wstring body(1500, static_cast<wchar_t>(L'A' + t));
            for (int i = 0; i < lines; ++i) {
                scopedLock guard(log);
                log << body.substr(0, 700) << body.substr(700) << std::endl;
            }
        });
    }
    for (auto& w : writers) w.join();
    std::wstring all = take(log);
    size_t start = 0, count = 0;
    while (start < all.size()) {
        size_t end = all.find(L'\n', start);
        ASSERT_NE(end, std::wstring::npos);
        std::wstring line = all.substr(start, end - start);
        ASSERT_EQ(line, std::wstring(1500, line[0]));
        ++count;
        start = end + 1;
    }
    EXPECT_EQ(count, 4u * lines);
    noticeWindow::takePosts(reinterpret_cast<HWND>(-1));
}

TEST(omsgstream, narrowStreamNeverSplitsACp932Character)
{
    basic_omsgstream<char, 4> log(logTextMessage, nullptr);
    auto pending = [&log] {
        std::string text = log.takeText();
        log.buffer().unlock();  // takeText's lock; leave the text in place
        return text;
    };
    log.lock(0);
    // "aあ" and the lead byte of "い" fill the 4-byte area: the lead byte waits for its partner.
    log << "a\x82\xA0\x82" << std::flush;
    EXPECT_EQ(pending(), "a\x82\xA0");
    log << "\xA2" << std::flush;
    EXPECT_EQ(pending(), "a\x82\xA0\x82\xA2");
    // Longer than the area: pieces are cut between characters only.
    log << "\x83\x5C\x83\x5C\x83\x5C" << std::flush;
    EXPECT_EQ(pending(), "a\x82\xA0\x82\xA2\x83\x5C\x83\x5C\x83\x5C");
    log.unlock();
    noticeWindow::takePosts(reinterpret_cast<HWND>(-1));
}
