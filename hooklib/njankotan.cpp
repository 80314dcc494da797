// The library's one export and its entry point.
#include "hooklib/hooks.h"
#include "hooklib/imeActions.h"
#include "hooklib/injection.h"
#include "hooklib/protocol.h"
#include "hooklib/sharedData.h"

namespace {

// Each request answers a record of its own, valid until the next call of the same request.
// setLockSync, sendTvnMessage and setWaitTimer share one that always reads zero.
fromDll_waitInfoAdds answers[fromDll::setSpareFlag + 1];
fromDll_waitInfoAdds zeroAnswer;
fromDll_waitInfoAdds unknownAnswer;

const UINT messageTimeoutMs = 1000;

void writeDebugText(const wchar_t* text)
{
#ifdef TVN_ANSI
    char buffer[256];
    if (WideCharToMultiByte(932, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr) > 0)
        OutputDebugStringA(buffer);
#else
    OutputDebugStringW(text);
#endif
}

// A hung application must not hold up the caller, the main program's agent thread, which every
// key of the session goes through.
void sendWithTimeout(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    DWORD_PTR result = 0;
#ifdef TVN_ANSI
    SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, messageTimeoutMs, &result);
#else
    SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, messageTimeoutMs, &result);
#endif
}

fromDll_waitInfoAdds* handleRequest(fromDll::requestToDll request, unsigned int wparam, long lparam)
{
    sharedData& shared = theSharedData();
    // Only the main program sends requests: its steps may wait longer for the record than a
    // hooked application's.
    static const bool patient = (getDllMutex().setPatience(patientLockWaitMs, patientLockAttempts), true);
    (void)patient;
    // The agent calls in on every pass of its loop: the keys it injected that found the ring full
    // go as soon as the hook has taken earlier ones back, and entries whose keys can't come back
    // any more are let go.
    waitingInjections().flush(shared, GetTickCount());
    switch (request) {
    case fromDll::popReport: {
        fromDll_waitInfoAdds& a = answers[request];
        shared.popReport(a);
        return &a;
    }
    case fromDll::startHooks: installHooks(); break;
    case fromDll::stopHooks: removeHooks(); break;
    case fromDll::postTvnMessage: {
        fromDll_waitInfoAdds& a = answers[request];
        debugLine(L"TavolinDLL: postTvnMessageの実行試み");
        // Posting to no window would post to this thread's own queue instead.
        // Armed before the post: the target may carry the action out, and re-arm the timer with its
        // 15 ms, before this thread runs again.
        HWND foreground = GetForegroundWindow();
        if (foreground) shared.setWaitTimer(100);
        bool posted = foreground && PostMessage(foreground, library().tvnMessage, wparam, lparam);
        if (foreground && !posted) shared.setWaitTimer(0);
        a.kind = answerDone;
        a.info1 = a.info2 = 0;
        a.mustWait = posted ? 1 : 0;
        return &a;
    }
    case fromDll::sendImeChar: {
        fromDll_waitInfoAdds& a = answers[request];
        HWND target = windowFromWire(static_cast<std::int32_t>(lparam));
        if (target) sendWithTimeout(target, WM_IME_CHAR, wparam, 0);
        a.kind = answerDone;
        a.info1 = a.info2 = 0;
        a.mustWait = 1;
        return &a;
    }
    case fromDll::setLockSync:
        shared.setCapsImeSync(wparam & 1);
        shared.setKanaImeSync(wparam & 2);
        return &zeroAnswer;
    case fromDll::sendTvnMessage: {
        HWND foreground = GetForegroundWindow();
        if (foreground) sendWithTimeout(foreground, library().tvnMessage, wparam, lparam);
        return &zeroAnswer;
    }
    case fromDll::setWaitTimer:
        shared.setWaitTimer(wparam & 1 ? 100 : 0);
        return &zeroAnswer;
    case fromDll::readWaitTimer: {
        fromDll_waitInfoAdds& a = answers[request];
        a.kind = answerDone;
        a.info1 = shared.readWaitTimer();
        a.info2 = 0;
        a.mustWait = 0;
        return &a;
    }
    case fromDll::setKeyboardHook: setKeyboardHook(wparam & 1); break;
    case fromDll::injectKey: ::injectKey(wparam, lparam); break;
    case fromDll::setKakuteiType: shared.setKakuteiType(static_cast<int>(wparam & 3)); break;
    case fromDll::setDebugOutput:
        if (wparam == 0) {
            shared.setDebugOutput(lparam & 1);
            writeDebugText((lparam & 1) ? L"Tavolin: DLLデバッグ出力を開始します。"
                                        : L"Tavolin: DLLデバッグ出力を停止します。");
        } else if (wparam != 1) {
            unknownAnswer = fromDll_waitInfoAdds();
            unknownAnswer.kind = answerUnknownRequest;
            return &unknownAnswer;
        }
        break;
    case fromDll::setPassThrough:
        shared.setPassThrough(wparam & 1);
        // The hook lets every key pass now, ours on their way too: their entries would never leave.
        if (wparam & 1) shared.clearInjected();
        break;
    case fromDll::setSpareFlag: shared.setSpareFlag(wparam & 1); break;
    default:
        unknownAnswer = fromDll_waitInfoAdds();
        unknownAnswer.kind = answerUnknownRequest;
        return &unknownAnswer;
    }
    fromDll_waitInfoAdds& a = answers[request];
    a = fromDll_waitInfoAdds();
    return &a;
}

}  // namespace

// Exported as the decorated name of hooklib.def.
extern "C" fromDll_waitInfoAdds* __cdecl njankotanExport(fromDll::requestToDll request, HWND window,
                                                         unsigned int wparam, long lparam)
{
    (void)window;  // no request reads it
    fromDll_waitInfoAdds* answer = nullptr;
    if (runGuarded([&] { answer = handleRequest(request, wparam, lparam); })) return answer;
    // The request failed inside (out of memory): the caller reads it as not understood.
    static fromDll_waitInfoAdds failed;
    failed = fromDll_waitInfoAdds();
    failed.kind = answerUnknownRequest;
    return &failed;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    // Whatever fails here must not take the process with it: without its shared record the library
    // only passes messages on.
    if (reason == DLL_PROCESS_ATTACH) runGuarded([&] {
        libraryState& s = library();
        s.module = instance;
#ifdef TVN_ANSI
        s.tvnMessage = RegisterWindowMessageA(sessionObjectName(dllMessageName).text);
#else
        s.tvnMessage = RegisterWindowMessageW(sessionObjectName(dllMessageName).text);
#endif
        // Thread calls are kept: a thread that ends frees its table of keys of ours (threadEnds).
        openSharedData();
        openTakenKeySlot();
        resetProcessState();
    });
    else if (reason == DLL_THREAD_DETACH) runGuarded([] { threadEnds(); });
    else if (reason == DLL_PROCESS_DETACH) runGuarded([] {
        {
            // A release passed here still owes the agent its notice: one try, no wait, on the way out.
            lockWaitScope oneTry;
            lockWaitScope::giveUp();
            theSharedData().sendPassedNotices();
        }
        closeTakenKeySlot();
        closeSharedData();
        releaseLockWaitSlot();
    });
    return TRUE;
}
