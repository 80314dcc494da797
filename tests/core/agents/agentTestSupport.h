// Shared by the input-agent tests: a hook-library link that records what the agents ask of it,
// and reading back what they wrote to the log.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "core/link/dllLink.h"
#include "core/platform/locks.h"
#include "core/platform/omsgstream.h"

class agentFakeLink : public dllLinkInterface {
public:
    struct request {
        int code;
        unsigned w;
        long l;
    };

    int outputChar(wchar_t ch) override;
    fromDll_waitInfoAdds* sendRequest(fromDll::requestToDll code, unsigned int w, long l) override;
    bool handleReport(const fromDll_waitInfoAdds&) override { return true; }
    HWND lastForegroundWindow() override { return nullptr; }
    const std::wstring& dllPath() override { return m_path; }
    bool kanaLayoutAllowed() override { return kanaAllowed; }
    bool alphabetLayoutAllowed() override { return alphabetAllowed; }
    bool isImeOpen() override { return imeOpen; }
    bool isRomajiMode() override { return romaji; }
    bool isCapsOn() override { return false; }
    bool isKanaOn() override { return false; }
    bool isFullShape() override { return false; }
    bool isAlphanumericMode() override { return false; }
    bool isKatakanaMode() override { return false; }
    bool useImeComposition() override { return composition; }
    bool dllEventJustHappened() override { return mustWait; }
    bool isConsoleForeground(bool) override { return console; }
    void setImeList(std::wstring& error, int, const std::wstring&) override { error.clear(); }
    void setMainWindow(HWND) override {}
    void setLogStream(const logStreamPtr&) override {}
    hookKeyEvent popEvent() override { return hookKeyEvent{0, 0, 0, 0}; }
    void passKeyOn(const hookKeyEvent& event) override;

    // The keys passed straight to the system, as (scan code, key word).
    std::vector<std::pair<int, int>> passedOn() const;

    // The requests of one code, in order.
    std::vector<request> requestsOf(int code) const;

    bool kanaAllowed = true;
    bool alphabetAllowed = true;
    bool imeOpen = false;
    bool romaji = true;
    bool composition = false;
    volatile bool mustWait = false;  // another thread may clear it
    bool console = false;
    std::vector<request> requests;
    std::wstring typed;
    std::vector<std::pair<int, int>> passed;

private:
    mutable sectionLock m_lock;
    std::wstring m_path = L"fake.dll";
    fromDll_waitInfoAdds m_answer = {};
};

// A link whose swallowed keys the test queues, counting the agent's polls. Like the real link it
// queues a key only while an agent takes them, and passes the others on.
class keyQueueLink : public agentFakeLink {
public:
    // One swallowed key: its scan code, key word (bit 8 extended, bit 15 release) and modifier bits.
    void push(int scanCode, int keyWord, int modifiers = 0);
    hookKeyEvent popEvent() override;
    fromDll_waitInfoAdds* sendRequest(fromDll::requestToDll code, unsigned int w, long l) override;
    void takeKeyEvents(const void* taker) override;
    void releaseKeyEvents(const void* taker) override;
    size_t waiting();
    volatile long polls = 0;
    volatile long reportPolls = 0;

private:
    sectionLock m_queueLock;
    std::deque<hookKeyEvent> m_events;
    const void* m_taker = nullptr;
};

class versionInfo;
// A version of the program (13007) that needs no version resource and no hook library.
const versionInfo* testVersion();

// The text written to the log since the last call (the stream's pending text, taken out).
std::wstring takeLogText(omsgstream& log);
// A log stream with no window, whose text the test reads back.
std::shared_ptr<omsgstream> makeTestLog();
