#include "agentTestSupport.h"

#include "core/platform/japaneseText.h"
#include "core/settings/versionInfo.h"

namespace {
class fixedVersionProvider : public versionProvider {
public:
    std::wstring productVersion(const std::wstring&, bool& found) override {
        found = true;
        return L"1.3007";
    }
};
}  // namespace

const versionInfo* testVersion() {
    static fixedVersionProvider provider;
    static versionInfo version(provider, L"test.exe", L"test.dll");
    return &version;
}

int agentFakeLink::outputChar(wchar_t ch) {
    typed += ch;
    return 1;
}

fromDll_waitInfoAdds* agentFakeLink::sendRequest(fromDll::requestToDll code, unsigned int w, long l) {
    scopedLock guard(m_lock);
    // The agent thread asks for reports on every pass; only the other requests are of interest.
    if (code != fromDll::popReport) requests.push_back({static_cast<int>(code), w, l});
    m_answer = fromDll_waitInfoAdds{};
    return &m_answer;
}

void agentFakeLink::passKeyOn(const hookKeyEvent& event) {
    scopedLock guard(m_lock);
    passed.emplace_back(event.scanCode, event.keyFlags & 0xFFFF);
}

std::vector<std::pair<int, int>> agentFakeLink::passedOn() const {
    scopedLock guard(m_lock);
    return passed;
}

std::vector<agentFakeLink::request> agentFakeLink::requestsOf(int code) const {
    scopedLock guard(m_lock);
    std::vector<request> found;
    for (const request& r : requests)
        if (r.code == code) found.push_back(r);
    return found;
}

std::wstring takeLogText(omsgstream& log) {
    auto& pending = log.takeText();
#ifdef TVN_ANSI
    std::wstring text = toWideString(pending);
#else
    std::wstring text = pending;
#endif
    log.clearText();
    return text;
}

std::shared_ptr<omsgstream> makeTestLog() {
    return std::make_shared<omsgstream>(logTextMessage, nullptr);
}

void keyQueueLink::push(int scanCode, int keyWord, int modifiers) {
    const hookKeyEvent event{scanCode, keyWord | (modifiers << 16), 0, static_cast<int>(GetTickCount()) | 1};
    {
        scopedLock guard(m_queueLock);
        if (m_taker) {
            m_events.push_back(event);
            return;
        }
    }
    passKeyOn(event);
}

hookKeyEvent keyQueueLink::popEvent() {
    scopedLock guard(m_queueLock);
    ++polls;
    if (m_events.empty()) return hookKeyEvent{0, 0, 0, 0};
    hookKeyEvent event = m_events.front();
    m_events.pop_front();
    return event;
}

fromDll_waitInfoAdds* keyQueueLink::sendRequest(fromDll::requestToDll code, unsigned int w, long l) {
    if (code == fromDll::popReport) ++reportPolls;
    return agentFakeLink::sendRequest(code, w, l);
}

void keyQueueLink::takeKeyEvents(const void* taker) {
    scopedLock guard(m_queueLock);
    m_taker = taker;
}

void keyQueueLink::releaseKeyEvents(const void* taker) {
    std::deque<hookKeyEvent> left;
    {
        scopedLock guard(m_queueLock);
        if (m_taker != taker) return;
        m_taker = nullptr;
        left.swap(m_events);
    }
    for (const hookKeyEvent& event : left) passKeyOn(event);
}

size_t keyQueueLink::waiting() {
    scopedLock guard(m_queueLock);
    return m_events.size();
}
