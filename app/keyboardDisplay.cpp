#include "app/keyboardDisplay.h"

#include "app/windowMessages.h"
#include "core/link/dllLink.h"
#include "core/agents/inputHandler.h"
#include "core/platform/japaneseText.h"
#include "core/engine/keyCodes.h"
#include "core/platform/registry.h"
#include "core/settings/settingsHolder.h"
#include "core/platform/tstring.h"

#include <cwctype>
#include <exception>

const keyboardDisplayRow keyboardDisplayRows[4] = {
    {L"Z1234567890-^\\B", 0.0f},
    {L"Tqwertyuiop@[E", 0.5f},
    {L"Aasdfghjkl;:]S", 0.75f},
    {L"Hzxcvbnm,./_M", 1.0f},
};

namespace {

// Relabelling asks the agent for all 56 keys; it is skipped while no display exists.
bool displayExists = false;

keyboardDisplay* displayOf(HWND window)
{
    return reinterpret_cast<keyboardDisplay*>(GetWindowLongPtr(window, GWLP_USERDATA));
}

}  // namespace

keyRect keyboardKeyRect(int column, int row, float offset, bool lastInRow, int w, int h, int longest)
{
    keyRect r{};
    const double L = longest > 0 ? longest : 1;
    r.x = column == 0 ? 0 : static_cast<int>((column + offset) * w / L);
    if (lastInRow) {
        r.width = w - r.x;
    } else if (column == 0) {
        r.width = static_cast<int>(w * (offset + 1) / L - 1);
    } else {
        r.width = static_cast<int>(w * (column + offset + 1) / L - r.x);
    }
    r.y = static_cast<int>(static_cast<double>(h) * row / 5);
    r.height = h / 5;
    return r;
}

keyRect keyboardStatusRect(int w, int h)
{
    return keyRect{0, static_cast<int>(static_cast<double>(h) * 4 / 5), w, h / 5};
}

void clampToShare(WPARAM edge, RECT* rect, int desktopWidth, int desktopHeight, double minShare, double maxShare)
{
    const bool topMoves = edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
    const bool leftMoves = edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
    auto setHeight = [&](int height) {
        if (topMoves) rect->top = rect->bottom - height; else rect->bottom = rect->top + height;
    };
    auto setWidth = [&](int width) {
        if (leftMoves) rect->left = rect->right - width; else rect->right = rect->left + width;
    };
    const int minH = static_cast<int>(desktopHeight * minShare);
    const int maxH = static_cast<int>(desktopHeight * maxShare);
    const int minW = static_cast<int>(desktopWidth * minShare);
    const int maxW = static_cast<int>(desktopWidth * maxShare);
    if (rect->bottom - rect->top < minH) setHeight(minH);
    if (rect->bottom - rect->top > maxH) setHeight(maxH);
    if (rect->right - rect->left < minW) setWidth(minW);
    if (rect->right - rect->left > maxW) setWidth(maxW);
}

void clampToDesktopShare(WPARAM edge, RECT* rect, double minShare, double maxShare)
{
    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    clampToShare(edge, rect, desktop.right - desktop.left, desktop.bottom - desktop.top, minShare, maxShare);
}

void centreOnWorkArea(HWND window)
{
    RECT work{};
    SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0);
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    SetWindowPos(window, HWND_TOPMOST, (work.right - width) / 2, (work.bottom - height) / 2, width, height,
                 SWP_SHOWWINDOW);
}

keyboardDisplay::keyboardDisplay(const keyboardDisplayParams& params, HWND window)
    : m_holder(params.holder), m_instance(params.instance), m_mainWindow(params.mainWindow), m_window(window)
{
}

void keyboardDisplay::buildKeys()
{
    int id = 1000;
    for (int row = 0; row < 4; ++row) {
        const std::wstring letters = keyboardDisplayRows[row].letters;
        const int count = static_cast<int>(letters.size());
        if (count > m_longestRow) m_longestRow = count;
        for (int column = 0; column < count; ++column) {
            keyRecord k{};
            k.column = column;
            k.row = row;
            k.offset = keyboardDisplayRows[row].offset;
            k.controlId = id;
            k.lastInRow = column == count - 1;
            k.code = keyCodeOf(letters[column], 0);
            k.button = CreateWindowEx(0, TEXT("Button"), TEXT(""), WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
            m_keys.push_back(k);
            ++id;
        }
    }
    m_status = CreateWindowEx(0, TEXT("Static"), TEXT(""), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, m_window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(999)), m_instance, nullptr);
}

void keyboardDisplay::layoutKeys(int w, int h)
{
    for (const keyRecord& k : m_keys) {
        const keyRect r = keyboardKeyRect(k.column, k.row, k.offset, k.lastInRow, w, h, m_longestRow);
        MoveWindow(k.button, r.x, r.y, r.width, r.height, TRUE);
    }
    if (m_status) {
        const keyRect r = keyboardStatusRect(w, h);
        MoveWindow(m_status, r.x, r.y, r.width, r.height, TRUE);
    }
}

bool keyboardDisplay::mayRedraw(bool forced)
{
    // Every IME-state report would otherwise re-query all 56 keys: while hidden the display only
    // remembers that it is stale, and while a bracket holds it nothing changes.
    if (!displayExists) return false;
    if (forced) return true;
    if (!IsWindowVisible(m_window)) {
        m_stale = true;
        return false;
    }
    return !m_hold;
}

void keyboardDisplay::relabelKeys(bool forced)
{
    if (!mayRedraw(forced)) return;
    dllLinkInterface& link = getDllLink();
    const bool caps = link.isCapsOn();
    const bool katakana = link.isKatakanaMode();
    std::shared_ptr<inputHandler> agent = m_holder->currentAgent;
    for (const keyRecord& k : m_keys) {
        std::wstring text;
        if (agent) text = agent->keysToText(keySequence{k.code});
        if (katakana) toKatakana(text);
        if (caps && text.size() == 1 && text[0] < 0x80 && iswalpha(text[0])) {
            text[0] = static_cast<wchar_t>(towupper(text[0]));
        }
        SetWindowText(k.button, toT(text).c_str());
    }
}

void keyboardDisplay::refreshStatus(bool forced)
{
    if (!mayRedraw(forced)) return;
    std::shared_ptr<inputHandler> agent = m_holder->currentAgent;
    const std::wstring status = agent ? agent->statusText() : std::wstring();
    SetWindowText(m_status, toT(status).c_str());
    relabelKeys(false);
}

void keyboardDisplay::storePlacement()
{
    RECT r{};
    if (!GetWindowRect(m_window, &r)) return;
    m_holder->setInt("WinXPos", r.left);
    m_holder->setInt("WinYPos", r.top);
    m_holder->setInt("WinXSize", r.right - r.left);
    m_holder->setInt("WinYSize", r.bottom - r.top);
}

void keyboardDisplay::applyPlacement()
{
    // Read everything first: moving the window stores its placement back into the settings.
    const int x = m_holder->getInt("WinXPos");
    const int y = m_holder->getInt("WinYPos");
    const int w = m_holder->getInt("WinXSize");
    const int h = m_holder->getInt("WinYSize");
    const bool hidden = m_holder->getBool("HiddenKeyBoard");
    SetWindowPos(m_window, HWND_TOPMOST, x, y, w, h, hidden ? SWP_HIDEWINDOW : SWP_SHOWWINDOW);
    PostMessage(m_window, imeStateChanged, 0, 0);
}

INT_PTR keyboardDisplay::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        destroyBigIcon(m_window);
        destroySmallIcon(m_window);
        return FALSE;
    case WM_MOVE:
        storePlacement();
        return FALSE;
    case WM_SIZE:
        storePlacement();
        layoutKeys(LOWORD(lParam), HIWORD(lParam));
        return FALSE;
    case WM_SIZING:
        clampToDesktopShare(wParam, reinterpret_cast<RECT*>(lParam), 0.2, 0.5);
        return TRUE;
    case WM_CLOSE:
        ShowWindow(m_window, SW_HIDE);
        m_holder->setBool("HiddenKeyBoard", true);
        PostMessage(m_mainWindow, keyboardDisplayClosed, 0, 0);
        return TRUE;
    case WM_SHOWWINDOW:
        if (wParam && m_stale) {
            relabelKeys(true);
            refreshStatus(true);
            m_stale = false;
        }
        return FALSE;
    case imeStateChanged:
        relabelKeys(false);
        return TRUE;
    case placeKeyboardDisplay:
        applyPlacement();
        return TRUE;
    case statusTextChanged:
        refreshStatus(false);
        return TRUE;
    case keyboardDisplayHold:
        m_hold = wParam != 0;
        PostMessage(m_mainWindow, keyboardDisplayHold, wParam, lParam);
        return TRUE;
    case relabelKeyboardDisplay:
        PostMessage(m_window, imeStateChanged, 0, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK keyboardDisplayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // No exception may unwind through the system's dispatching code.
    try {
        if (message == WM_INITDIALOG) {
            const auto* params = reinterpret_cast<const keyboardDisplayParams*>(lParam);
            auto* display = new keyboardDisplay(*params, window);
            SetWindowLongPtr(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(display));
            displayExists = true;
            setBigIcon(window, 7000);
            setSmallIcon(window, 7000);
            display->buildKeys();
            // Lay the keys out now as well: an unchanged size later brings no WM_SIZE.
            RECT client{};
            GetClientRect(window, &client);
            display->layoutKeys(client.right, client.bottom);
            ShowWindow(window, SW_HIDE);
            return TRUE;
        }
        keyboardDisplay* display = displayOf(window);
        if (message == WM_NCDESTROY) {
            displayExists = false;
            SetWindowLongPtr(window, GWLP_USERDATA, 0);
            delete display;
            return FALSE;
        }
        if (!display) return FALSE;
        return display->handle(message, wParam, lParam);
    } catch (const std::exception&) {
        return FALSE;
    } catch (...) {
        return FALSE;
    }
}
