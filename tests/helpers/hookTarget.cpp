// A focused window with an edit control that the hook-library tests type into and steer. It
// answers questions about its own process and input context through one private message.
#include <windows.h>
#include <imm.h>

namespace {

const wchar_t* const className = L"TavolinHookTarget";
HWND edit = nullptr;
// The stand-in for an IME that takes every key press (a message hook of this thread, which runs
// before global hooks), and the VK_PROCESSKEY presses that reached the message loop.
HHOOK imeStandIn = nullptr;
LRESULT processKeysSeen = 0;

LRESULT CALLBACK claimPresses(int code, WPARAM removeFlag, LPARAM message)
{
    MSG* msg = reinterpret_cast<MSG*>(message);
    if (code >= 0 && (removeFlag & PM_REMOVE) && msg->message == WM_KEYDOWN) msg->wParam = VK_PROCESSKEY;
    return CallNextHookEx(imeStandIn, code, removeFlag, message);
}

// Questions of the private message WM_APP + 1 (wParam; lParam the argument).
enum query {
    queryLibraryLoaded = 1,   // the hook library is mapped into this process
    queryOpenStatus = 2,
    queryConversionMode = 3,
    querySetOpenStatus = 4,
    querySetConversionMode = 5,
    queryCompositionChar = 6, // first character of the composition, 0 when there is none
    queryTakeFocus = 7,       // foreground, then the focus back onto the edit control
    queryClearText = 8,
    queryCancelComposition = 9,
    queryBusy = 10,           // the thread sleeps lParam ms, like a hung application
    queryImeStandIn = 11,     // lParam 1: presses become VK_PROCESSKEY as an IME makes them; 0: no more
    queryProcessKeysSeen = 12,// VK_PROCESSKEY presses that reached the message loop since the stand-in came
    queryKeyDown = 13         // whether the thread's key state holds the virtual key lParam down
};

LRESULT answerQuery(HWND window, WPARAM which, LPARAM argument)
{
    if (which == queryLibraryLoaded) return GetModuleHandleW(L"TavolinXPDll.dll") != nullptr;
    if (which == queryTakeFocus) {
        SetForegroundWindow(window);
        SetFocus(nullptr);
        SetFocus(edit);
        return GetFocus() == edit;
    }
    if (which == queryBusy) {
        Sleep(static_cast<DWORD>(argument));
        return 1;
    }
    if (which == queryImeStandIn) {
        if (imeStandIn) UnhookWindowsHookEx(imeStandIn);
        imeStandIn = argument ? SetWindowsHookExW(WH_GETMESSAGE, claimPresses, nullptr, GetCurrentThreadId()) : nullptr;
        if (argument) processKeysSeen = 0;
        return !argument || imeStandIn != nullptr;
    }
    if (which == queryProcessKeysSeen) return processKeysSeen;
    if (which == queryKeyDown) return (GetKeyState(static_cast<int>(argument)) & 0x8000) != 0;
    if (which == queryClearText) {
        SetWindowTextW(edit, L"");
        return 1;
    }
    HIMC context = ImmGetContext(edit);
    if (!context) return -1;
    LRESULT result = 0;
    DWORD conversion = 0, sentence = 0;
    switch (which) {
    case queryOpenStatus: result = ImmGetOpenStatus(context) ? 1 : 0; break;
    case queryConversionMode:
        result = ImmGetConversionStatus(context, &conversion, &sentence) ? static_cast<LRESULT>(conversion) : -1;
        break;
    case querySetOpenStatus: result = ImmSetOpenStatus(context, argument != 0); break;
    case querySetConversionMode:
        ImmGetConversionStatus(context, &conversion, &sentence);
        result = ImmSetConversionStatus(context, static_cast<DWORD>(argument), sentence);
        break;
    case queryCompositionChar: {
        wchar_t text[8] = {};
        LONG n = ImmGetCompositionStringW(context, GCS_COMPSTR, text, sizeof(text) - sizeof(wchar_t));
        result = n >= 2 ? text[0] : 0;
        break;
    }
    case queryCancelComposition: result = ImmNotifyIME(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0); break;
    default: result = -1; break;
    }
    ImmReleaseContext(edit, context);
    return result;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 400, 200, window,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        return 0;
    case WM_SETFOCUS:
        SetFocus(edit);
        return 0;
    case WM_APP + 1: return answerQuery(window, wParam, lParam);
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = className;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, className, L"hook target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 420, 240,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    SetForegroundWindow(window);
    SetFocus(edit);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_PROCESSKEY) ++processKeysSeen;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
