#include "app/resizableDialog.h"

int resizableDialog::movedEdge(int recorded, int mode, int oldSize, int newSize)
{
    switch (mode) {
    case halfChange: return recorded + newSize / 2 - oldSize / 2;
    case wholeChange: return recorded + newSize - oldSize;
    default: return recorded;
    }
}

void resizableDialog::anchor(HWND child, int left, int top, int right, int bottom)
{
    if (!child) return;
    if (!(GetWindowLongPtr(child, GWL_STYLE) & WS_CHILD)) return;
    HWND parent = GetParent(child);
    if (!parent) return;
    anchorRecord r{};
    r.child = child;
    r.parent = parent;
    GetWindowRect(child, &r.childRect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r.childRect), 2);
    GetWindowRect(parent, &r.parentRect);
    r.modes[0] = left;
    r.modes[1] = top;
    r.modes[2] = right;
    r.modes[3] = bottom;
    m_anchors.push_back(r);
}

void resizableDialog::setMinimumSize(int flags, const SIZE* size)
{
    m_minFlags = flags;
    if (size) {
        m_minSize = *size;
    } else {
        RECT r{};
        GetWindowRect(m_window, &r);
        m_minSize = SIZE{r.right - r.left, r.bottom - r.top};
    }
}

void resizableDialog::setMaximumSize(int flags, const SIZE* size)
{
    m_maxFlags = flags;
    if (size) {
        m_maxSize = *size;
    } else {
        RECT r{};
        GetWindowRect(m_window, &r);
        m_maxSize = SIZE{r.right - r.left, r.bottom - r.top};
    }
}

void resizableDialog::relayout()
{
    for (const anchorRecord& a : m_anchors) {
        RECT now{};
        if (!GetWindowRect(a.parent, &now)) continue;
        const int oldW = a.parentRect.right - a.parentRect.left;
        const int oldH = a.parentRect.bottom - a.parentRect.top;
        const int newW = now.right - now.left;
        const int newH = now.bottom - now.top;
        const int left = movedEdge(a.childRect.left, a.modes[0], oldW, newW);
        const int top = movedEdge(a.childRect.top, a.modes[1], oldH, newH);
        const int right = movedEdge(a.childRect.right, a.modes[2], oldW, newW);
        const int bottom = movedEdge(a.childRect.bottom, a.modes[3], oldH, newH);
        MoveWindow(a.child, left, top, right - left, bottom - top, FALSE);
    }
}

RECT resizableDialog::gripRect() const
{
    RECT client{};
    GetClientRect(m_window, &client);
    const int cx = GetSystemMetrics(SM_CXHTHUMB);
    const int cy = GetSystemMetrics(SM_CYVTHUMB);
    return RECT{client.right - cx, client.bottom - cy, client.right, client.bottom};
}

void resizableDialog::paintGrip()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_window, &ps);
    RECT grip = gripRect();
    DrawFrameControl(dc, &grip, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
    EndPaint(m_window, &ps);
}

BOOL resizableDialog::hitTestGrip(int x, int y)
{
    RECT grip = gripRect();
    MapWindowPoints(m_window, nullptr, reinterpret_cast<POINT*>(&grip), 2);
    POINT p{x, y};
    if (PtInRect(&grip, p)) {
        SetWindowLongPtr(m_window, DWLP_MSGRESULT, HTBOTTOMRIGHT);
        return TRUE;
    }
    return FALSE;
}

void resizableDialog::limitSizing(WPARAM edge, RECT* r) const
{
    const bool leftEdge = edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
    const bool rightEdge = edge == WMSZ_RIGHT || edge == WMSZ_TOPRIGHT || edge == WMSZ_BOTTOMRIGHT;
    const bool topEdge = edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
    const bool bottomEdge = edge == WMSZ_BOTTOM || edge == WMSZ_BOTTOMLEFT || edge == WMSZ_BOTTOMRIGHT;
    if (leftEdge || rightEdge) {
        if ((m_minFlags & limitWidth) && r->right - r->left < m_minSize.cx) {
            if (leftEdge) r->left = r->right - m_minSize.cx; else r->right = r->left + m_minSize.cx;
        }
        if ((m_maxFlags & limitWidth) && r->right - r->left > m_maxSize.cx) {
            if (leftEdge) r->left = r->right - m_maxSize.cx; else r->right = r->left + m_maxSize.cx;
        }
    }
    if (topEdge || bottomEdge) {
        if ((m_minFlags & limitHeight) && r->bottom - r->top < m_minSize.cy) {
            if (topEdge) r->top = r->bottom - m_minSize.cy; else r->bottom = r->top + m_minSize.cy;
        }
        if ((m_maxFlags & limitHeight) && r->bottom - r->top > m_maxSize.cy) {
            if (topEdge) r->top = r->bottom - m_maxSize.cy; else r->bottom = r->top + m_maxSize.cy;
        }
    }
}

INT_PTR resizableDialog::dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        relayout();
        RedrawWindow(m_window, nullptr, nullptr, RDW_FRAME | RDW_ALLCHILDREN | RDW_ERASE | RDW_INVALIDATE);
        return TRUE;
    case WM_PAINT:
        paintGrip();
        return TRUE;
    case WM_NCHITTEST:
        return hitTestGrip(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
    case WM_SIZING:
        limitSizing(wParam, reinterpret_cast<RECT*>(lParam));
        return TRUE;
    default:
        return FALSE;
    }
}
