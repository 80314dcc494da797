#include "app/logWindow.h"

#include "app/appText.h"
#include "app/windowMessages.h"
#include "core/platform/registry.h"
#include "core/settings/versionInfo.h"
#include "resources/resource.h"

#include <exception>

namespace {
const UINT_PTR hideTimer = 1;
const UINT hideDelay = 2500;
}  // namespace

logWindow::logWindow(HWND dialog, const logWindowParams& params)
    : resizableDialog(dialog), m_owner(params.owner), m_log(params.log), m_version(params.version)
{
}

void logWindow::initialise()
{
    HWND w = window();
    m_edit = GetDlgItem(w, IDC_LOG_EDIT);
    setBigIcon(w, 7000);
    setSmallIcon(w, 7000);
    if (m_log) m_log->setShownLevel(0);
    anchor(GetDlgItem(w, IDOK), keepEdge, wholeChange, keepEdge, wholeChange);
    anchor(GetDlgItem(w, IDC_LOG_CLEAR), keepEdge, wholeChange, keepEdge, wholeChange);
    anchor(GetDlgItem(w, IDC_LOG_VERSION), keepEdge, wholeChange, keepEdge, wholeChange);
    anchor(GetDlgItem(w, IDC_LOG_DETAIL), keepEdge, wholeChange, keepEdge, wholeChange);
    anchor(m_edit, keepEdge, keepEdge, wholeChange, wholeChange);
    setMinimumSize(limitWidth | limitHeight, nullptr);

    // Four times the template's height, in the work area's top-left corner, shown at once.
    RECT r{};
    GetWindowRect(w, &r);
    const int width = r.right - r.left;
    const int height = 4 * (r.bottom - r.top);
    RECT work{};
    SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(w, nullptr, work.left, work.top, width, height, SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOZORDER);
}

bool logWindow::detailChecked() const
{
    return IsDlgButtonChecked(window(), IDC_LOG_DETAIL) == BST_CHECKED;
}

void logWindow::initialState(WPARAM show, LPARAM level)
{
    CheckDlgButton(window(), IDC_LOG_DETAIL, level == 1 ? BST_CHECKED : BST_UNCHECKED);
    if (m_log) m_log->setShownLevel(level == 1 ? 1 : 0);
    if (show == 0) {
        SetTimer(window(), hideTimer, hideDelay, nullptr);
    } else {
        m_shownOnRequest = true;
        ShowWindow(window(), show == 1 ? SW_SHOW : SW_HIDE);
    }
}

void logWindow::showOnRequest(WPARAM show, LPARAM detail)
{
    CheckDlgButton(window(), IDC_LOG_DETAIL, detail == 1 ? BST_CHECKED : BST_UNCHECKED);
    if (m_log) m_log->setShownLevel(detail == 1 ? 1 : 0);
    m_shownOnRequest = true;
    ShowWindow(window(), show == 1 ? SW_SHOW : SW_HIDE);
}

void logWindow::hideAndReport()
{
    ShowWindow(window(), SW_HIDE);
    SendMessage(m_owner, logOptionsChanged, 0, detailChecked() ? 1 : 0);
}

INT_PTR logWindow::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case logInitialState:
        initialState(wParam, lParam);
        return TRUE;
    case showLogWindow:
        showOnRequest(wParam, lParam);
        return TRUE;
    case WM_TIMER:
        if (wParam == hideTimer) {
            if (!m_shownOnRequest) ShowWindow(window(), SW_HIDE);
            KillTimer(window(), hideTimer);
        }
        return TRUE;
    case WM_CLOSE:
        hideAndReport();
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            hideAndReport();
            return TRUE;
        case IDC_LOG_CLEAR: {
            const int length = GetWindowTextLength(m_edit);
            SendMessage(m_edit, EM_SETSEL, 0, length);
            SendMessage(m_edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(TEXT("")));
            return TRUE;
        }
        case IDC_LOG_VERSION:
            if (m_log && m_version) {
                scopedLock guard(*m_log);
                *m_log << toT(m_version->versionText()) << std::endl;
            }
            return TRUE;
        case IDC_LOG_DETAIL: {
            const bool checked = detailChecked();
            if (m_log) m_log->setShownLevel(checked ? 1 : 0);
            SendMessage(m_owner, logOptionsChanged, IsWindowVisible(window()) ? 1 : 0, checked ? 1 : 0);
            return TRUE;
        }
        }
        return FALSE;
    case WM_DESTROY:
        destroyBigIcon(window());
        destroySmallIcon(window());
        return FALSE;
    default:
        return dispatch(message, wParam, lParam);
    }
}

INT_PTR CALLBACK logWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // No exception may unwind through the system's dispatching code.
    try {
        if (message == WM_INITDIALOG) {
            const auto* params = reinterpret_cast<const logWindowParams*>(lParam);
            auto* log = new logWindow(window, *params);
            SetWindowLongPtr(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(log));
            log->initialise();
            return TRUE;
        }
        auto* log = reinterpret_cast<logWindow*>(GetWindowLongPtr(window, GWLP_USERDATA));
        if (message == WM_NCDESTROY) {
            SetWindowLongPtr(window, GWLP_USERDATA, 0);
            delete log;
            return FALSE;
        }
        if (!log) return FALSE;
        return log->handle(message, wParam, lParam);
    } catch (const std::exception&) {
        return FALSE;
    } catch (...) {
        return FALSE;
    }
}
