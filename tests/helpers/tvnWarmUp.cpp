// Creates one window and ends. The test runner starts it once before the tests, with its output
// away from CTest's pipes: the first window of a fresh Wine session brings up Wine's desktop
// services, which would otherwise cost every window-creating test program several seconds.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    HWND window = CreateWindowExW(0, L"Static", L"warm-up", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                  nullptr, instance, nullptr);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (window) DestroyWindow(window);
    return 0;
}
