// Entry point of the tray program: the build hand-over, one instance per session, the hook
// library, the main window and its loop, and teardown in a fixed order.
#include "app/autoStart.h"
#include "app/mainWindow.h"
#include "app/startup.h"
#include "app/windowMessages.h"
#include "core/link/dllLink.h"
#include "core/platform/errors.h"
#include "hooklib/protocol.h"

#include <commctrl.h>

#include <clocale>

namespace {

int runProgram()
{
    switch (relaunchOtherBuild()) {
    case 2: return 0;
    case 3: return 20;
    case 4: return 22;
    default: break;
    }
    if (HWND older = FindWindow(TEXT("Tavolin-01"), nullptr)) PostMessage(older, WM_CLOSE, 0, 0);

    std::unique_ptr<smartMutex> instance;
    try {
        instance.reset(new smartMutex(instanceMutexName));
    } catch (const smartMutex::mutexFail&) {
        // Another instance runs in this session: it opens its settings instead.
        if (HWND running = FindWindow(TEXT("orvessaTasktray"), nullptr)) {
            PostMessage(running, openSettingsRequest, 0, 0);
        }
        return 0;
    }

    try {
#ifdef TVN_ANSI
        setlocale(LC_ALL, "");
        InitCommonControls();
#else
        _wsetlocale(LC_ALL, L"");
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
#endif
        if (startupAutoStartStep() == autoStartDecision::quitQuietly) {
            instance->close();
            return 72;
        }
        getDllLink().sendRequest(fromDll::startHooks, 0, 0);
        {
            mainWindow window;
            window.runMessageLoop();
            window.shutdown();
        }
        getDllLink().sendRequest(fromDll::stopHooks, 0, 0);
        instance->close();
        return 0;
    } catch (const dllConnectError& e) {
        const std::wstring text = e.text() + L"\n\nTavolin用DLLの接続に失敗しました。";
        MessageBoxW(nullptr, text.c_str(), captionText(), MB_ICONERROR);
        instance->close();
        return 301;
    }
}

}  // namespace

#ifdef TVN_ANSI
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
#else
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
#endif
{
    appInstance = instance;
    return runProgram();
}
