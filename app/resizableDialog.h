// A small base for resizable modeless dialogs: controls anchored to the edges, a size grip in the
// bottom-right corner, and minimum / maximum sizes while the user drags a border.
#pragma once

#include <windows.h>

#include <vector>

class resizableDialog {
public:
    enum edgeMode { keepEdge = 0, halfChange = 1, wholeChange = 2 };
    enum sizeFlags { limitWidth = 1, limitHeight = 2 };

    explicit resizableDialog(HWND dialog) : m_window(dialog) {}
    virtual ~resizableDialog() = default;

    HWND window() const { return m_window; }

    // Records the child's place and the parent's size now; later parent sizes move each edge by
    // its mode. Ignored for a null handle or a window that is not a child.
    void anchor(HWND child, int left, int top, int right, int bottom);
    // The given size, or the window's current size when `size` is null.
    void setMinimumSize(int flags, const SIZE* size);
    void setMaximumSize(int flags, const SIZE* size);

    void relayout();
    void paintGrip();
    BOOL hitTestGrip(int x, int y);
    void limitSizing(WPARAM edge, RECT* r) const;

    // Handles WM_SIZE, WM_PAINT, WM_NCHITTEST and WM_SIZING; FALSE for anything else.
    INT_PTR dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    // One edge of an anchored child after the parent changed from `oldSize` to `newSize`.
    static int movedEdge(int recorded, int mode, int oldSize, int newSize);

private:
    struct anchorRecord {
        HWND child;
        HWND parent;
        RECT childRect;   // in the parent's client coordinates at registration
        RECT parentRect;  // the parent's window rectangle at registration
        int modes[4];     // left, top, right, bottom
    };

    RECT gripRect() const;

    HWND m_window;
    std::vector<anchorRecord> m_anchors;
    int m_minFlags = 0;
    SIZE m_minSize{0, 0};
    int m_maxFlags = 0;
    SIZE m_maxSize{0, 0};
};
