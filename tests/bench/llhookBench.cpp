// Measures the low-level hook agent under Wine, with keys typed by xdotool into a focused window:
//  1. the time the hook procedure takes per physical key (it only queues),
//  2. the latency from a physical key to its converted output reaching the window, against the
//     latency of the same key passing while the agent is paused (the platform's own path),
//  3. the processor time of the agent's worker thread, and of the whole program, while no key
//     comes (as a share of one core).
// The target window runs on a thread of its own, as an application's window would, and so does
// the hook that stamps each physical key as the hook chain reaches the agent's hook. The main
// thread serves its messages as the program's user-interface thread does.
// Usage: llhookBench [keys]   (default 300 keys per run)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/link/dllLink.h"
#include "core/agents/llhookLocal.h"
#include "core/settings/settingsHolder.h"
#include "liveDesktop.h"
#include "testTempFolder.h"

namespace {

fromDll_waitInfoAdds* __cdecl quietLibrary(fromDll::requestToDll, HWND, unsigned int, long) {
    static fromDll_waitInfoAdds answer;
    answer = fromDll_waitInfoAdds{};
    return &answer;
}

const DWORD physicalScan = 0x1F;   // s
const unsigned convertedScan = 0x14;  // t

// A thread with a message loop of its own that runs the given work on it and waits for it.
class workerWithLoop {
public:
    explicit workerWithLoop(std::function<void()> start) : m_start(std::move(start)) {
        m_done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, main, this, 0, &m_id);
        WaitForSingleObject(m_done, INFINITE);
    }
    ~workerWithLoop() {
        run(m_end);
        PostThreadMessageW(m_id, WM_QUIT, 0, 0);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        CloseHandle(m_done);
    }
    void run(const std::function<void()>& work) {
        m_work = &work;
        PostThreadMessageW(m_id, WM_APP, 0, 0);
        WaitForSingleObject(m_done, INFINITE);
    }
    std::function<void()> m_end = [] {};

private:
    static DWORD WINAPI main(void* self) {
        auto* w = static_cast<workerWithLoop*>(self);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        w->m_start();
        SetEvent(w->m_done);
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.hwnd == nullptr && msg.message == WM_APP) {
                (*w->m_work)();
                SetEvent(w->m_done);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return 0;
    }
    std::function<void()> m_start;
    const std::function<void()>* m_work = nullptr;
    HANDLE m_thread, m_done;
    DWORD m_id = 0;
};

// Installed after the agent's hook, so the system calls it first, right before the agent's: it
// stamps each physical key as the chain reaches the agent's hook and times the rest of the chain,
// which is the agent's hook procedure.
struct stampingHook {
    static std::mutex& lock() {
        static std::mutex m;
        return m;
    }
    static std::vector<LONGLONG>& physicalPresses() {
        static std::vector<LONGLONG> v;
        return v;
    }
    static std::vector<double>& chainMicroseconds() {
        static std::vector<double> v;
        return v;
    }
    static void clear() {
        std::lock_guard<std::mutex> guard(lock());
        physicalPresses().clear();
        chainMicroseconds().clear();
    }
    static LRESULT CALLBACK procedure(int code, WPARAM w, LPARAM l) {
        auto* key = reinterpret_cast<KBDLLHOOKSTRUCT*>(l);
        if (code != 0 || (key->flags & LLKHF_INJECTED)) return CallNextHookEx(nullptr, code, w, l);
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        LRESULT r = CallNextHookEx(nullptr, code, w, l);
        QueryPerformanceCounter(&after);
        std::lock_guard<std::mutex> guard(lock());
        chainMicroseconds().push_back(counterMicroseconds(before.QuadPart, after.QuadPart));
        if (key->scanCode == physicalScan && !(key->flags & LLKHF_UP))
            physicalPresses().push_back(before.QuadPart);
        return r;
    }
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p / 100.0 * (values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// Latencies (ms) from each stamped physical press to the window's press of the given scan code;
// the records are taken on the window's thread. Says how many presses were stamped and arrived.
std::vector<double> latencies(workerWithLoop& windowThread, liveTargetWindow& window, unsigned scan,
                              const char* what) {
    std::vector<LONGLONG> arrivals;
    windowThread.run([&] {
        for (const auto& r : window.records())
            if (r.message == WM_KEYDOWN && r.scanCode == scan) arrivals.push_back(r.counter);
    });
    std::vector<LONGLONG> presses;
    {
        std::lock_guard<std::mutex> guard(stampingHook::lock());
        presses = stampingHook::physicalPresses();
    }
    std::printf("%-44s stamped=%zu arrived=%zu\n", what, presses.size(), arrivals.size());
    std::vector<double> result;
    for (size_t i = 0; i < presses.size() && i < arrivals.size(); ++i)
        result.push_back(counterMicroseconds(presses[i], arrivals[i]) / 1000.0);
    return result;
}

// Types while this thread serves its messages, as the program's user-interface thread would.
void typeKeys(int count) {
    // In batches, so one xdotool run stays short.
    for (int done = 0; done < count; done += 50) {
        int n = std::min(50, count - done);
        std::wstring args = L"key --delay 25";
        for (int i = 0; i < n; ++i) args += L" s";
        runXdotool(args, 60000);
        pumpMessages(1);
    }
}

void report(const char* what, const std::vector<double>& values, const char* unit) {
    std::printf("%-44s n=%zu median=%.3f p99=%.3f max=%.3f %s\n", what, values.size(),
                percentile(values, 50), percentile(values, 99), percentile(values, 100), unit);
}

double seconds(const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
}

double threadSeconds(HANDLE thread) {
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(thread, &created, &ended, &kernel, &user)) return -1;
    return seconds(kernel) + seconds(user);
}

double processSeconds() {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return -1;
    return seconds(kernel) + seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
    int keys = argc > 1 ? std::atoi(argv[1]) : 300;
    if (!xdotoolAvailable()) {
        std::printf("no X display with xdotool\n");
        return 2;
    }
    testTempFolder folder;
    testTempFolder::writeBytes(folder.file(L"eisu.tvn_eisu"), "visible=1\r\ns\tt\r\n");
    dllLink link(quietLibrary, L"quiet");
    auto log = makeTestLog();
    settingsHolder holder(log, &link, testVersion(), getEmptyHandler(log, nullptr));
    holder.setAllToDefault();
    for (const char* key : {"VkConvertK", "VkConvertC", "VkConvertN", "ConvertVk", "ConvertKVk",
                            "KeyDependsOnMachine", "AlwaysReplaceFile"})
        holder.setString(key, L"");
    holder.setString("VkConvertA", L"eisu.tvn_eisu");
    holder.setInt("DriverType", 2);
    holder.saveFile(folder.file(L"bench.ini"));
    if (!holder.loadSettingsFile(folder.file(L"bench.ini"), folder.path())) {
        std::printf("settings did not load\n");
        return 1;
    }
    auto* agent = dynamic_cast<llhook_local*>(holder.currentAgent.get());
    if (!agent) {
        std::printf("the hook agent did not start\n");
        return 1;
    }
    HHOOK stamp = nullptr;
    workerWithLoop stampThread(
        [&] { stamp = SetWindowsHookExW(WH_KEYBOARD_LL, stampingHook::procedure, GetModuleHandleW(nullptr), 0); });
    stampThread.m_end = [&] { UnhookWindowsHookEx(stamp); };
    std::unique_ptr<liveTargetWindow> window;
    bool focused = false;
    workerWithLoop windowThread([&] {
        window.reset(new liveTargetWindow);
        focused = window->focus();
    });
    windowThread.m_end = [&] { window.reset(); };
    if (!focused) std::printf("warning: the target window may not have the focus\n");

    // Converted run.
    windowThread.run([&] { window->clear(); });
    stampingHook::clear();
    takeLogText(*log);
    typeKeys(keys);
    pumpMessages(300);
    std::vector<double> hookTimes;
    {
        std::lock_guard<std::mutex> guard(stampingHook::lock());
        hookTimes = stampingHook::chainMicroseconds();
    }
    std::vector<double> converted = latencies(windowThread, *window, convertedScan, "converted run");
    takeLogText(*log);

    // The hook procedure's own work, without the platform's hook chain around it: queue a key the
    // layout does not know while the worker runs (it types it again, unconverted).
    std::vector<double> ownTimes;
    for (int i = 0; i < keys; ++i) {
        KBDLLHOOKSTRUCT key = {};
        key.scanCode = 0x44;  // F10
        key.flags = (i & 1) ? LLKHF_UP : 0;
        key.time = GetTickCount();
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        agent->hookKey((i & 1) ? WM_KEYUP : WM_KEYDOWN, key);
        QueryPerformanceCounter(&after);
        ownTimes.push_back(counterMicroseconds(before.QuadPart, after.QuadPart));
        if (i % 20 == 19) pumpMessages(5);
    }
    pumpMessages(500);
    takeLogText(*log);

    // Idle worker, then the idle program: for the second the main thread only sleeps (no key
    // comes, so the hook has nothing to deliver), and the program's share is the agent's.
    pumpMessages(200);
    HANDLE worker = agent->workerThread();
    double before = threadSeconds(worker);
    pumpMessages(5000);
    double idleCpu = (threadSeconds(worker) - before) / 5.0 * 100.0;
    double workerBefore = threadSeconds(worker);
    double processBefore = processSeconds();
    Sleep(5000);
    double quietWorkerCpu = (threadSeconds(worker) - workerBefore) / 5.0 * 100.0;
    double processCpu = (processSeconds() - processBefore) / 5.0 * 100.0;

    // Baseline: the same keys while the agent is paused pass on unconverted.
    agent->pause();
    stampingHook::clear();
    windowThread.run([&] { window->clear(); });
    typeKeys(keys);
    pumpMessages(300);
    std::vector<double> passed = latencies(windowThread, *window, physicalScan, "paused run");
    agent->resume();

    std::printf("keys per run: %d\n", keys);
    report("hook chain time per key (Wine + procedure)", hookTimes, "us");
    report("hook procedure's own time per key", ownTimes, "us");
    report("physical key -> converted output", converted, "ms");
    report("physical key -> window, agent paused", passed, "ms");
    std::printf("%-44s median=%.3f p99=%.3f ms\n", "added latency (converted - paused)",
                percentile(converted, 50) - percentile(passed, 50),
                percentile(converted, 99) - percentile(passed, 99));
    std::printf("%-44s %.3f %%\n", "worker thread CPU while idle (5 s)", idleCpu);
    std::printf("%-44s %.3f %%\n", "worker thread CPU, program asleep (5 s)", quietWorkerCpu);
    std::printf("%-44s %.3f %%\n", "whole program CPU, program asleep (5 s)", processCpu);

    holder.stopInputHandler();
    return 0;
}
