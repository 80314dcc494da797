// The log window ("動作記録"): shows the running log, hides itself shortly after start unless the
// user wants it kept, and sets through its detail box which log levels reach it.
#pragma once

#include "app/resizableDialog.h"
#include "core/platform/omsgstream.h"

#include <memory>

class versionInfo;

// The log window's creation record (CreateDialogParam's parameter).
struct logWindowParams {
    std::shared_ptr<omsgstream> log;
    HWND owner;
    versionInfo* version;
};

class logWindow : public resizableDialog {
public:
    logWindow(HWND dialog, const logWindowParams& params);

    void initialise();
    void initialState(WPARAM show, LPARAM level);
    void showOnRequest(WPARAM show, LPARAM detail);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);

private:
    bool detailChecked() const;
    void hideAndReport();

    HWND m_edit = nullptr;
    HWND m_owner;
    std::shared_ptr<omsgstream> m_log;
    versionInfo* m_version;
    bool m_shownOnRequest = false;
};

// The dialog procedure of the log window (template "IDD_orvessaLog").
INT_PTR CALLBACK logWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
