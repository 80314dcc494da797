#include "app/resizableDialog.h"

#include <gtest/gtest.h>

TEST(resizableDialog, edgesMoveByTheirMode)
{
    EXPECT_EQ(resizableDialog::movedEdge(10, resizableDialog::keepEdge, 100, 160), 10);
    EXPECT_EQ(resizableDialog::movedEdge(10, resizableDialog::halfChange, 100, 160), 40);
    EXPECT_EQ(resizableDialog::movedEdge(10, resizableDialog::wholeChange, 100, 160), 70);
    EXPECT_EQ(resizableDialog::movedEdge(10, resizableDialog::wholeChange, 100, 80), -10);
}

TEST(resizableDialog, anchoredChildFollowsTheParentWindow)
{
    HWND parent = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    HWND edit = CreateWindowExW(0, L"Edit", L"", WS_CHILD, 0, 0, 200, 100, parent, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    HWND button = CreateWindowExW(0, L"Button", L"", WS_CHILD, 10, 120, 50, 20, parent, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    HWND topLevel = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    GetModuleHandleW(nullptr), nullptr);
    resizableDialog dialog(parent);
    dialog.anchor(edit, 0, 0, 2, 2);
    dialog.anchor(button, 0, 2, 0, 2);
    dialog.anchor(topLevel, 2, 2, 2, 2);  // not a child: ignored
    dialog.anchor(nullptr, 2, 2, 2, 2);

    MoveWindow(parent, 0, 0, 400, 260, FALSE);
    dialog.relayout();

    RECT r{};
    GetWindowRect(edit, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_EQ(r.bottom - r.top, 160);
    GetWindowRect(button, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 180);
    EXPECT_EQ(r.right - r.left, 50);
    GetWindowRect(topLevel, &r);
    EXPECT_EQ(r.left, 0);
    DestroyWindow(topLevel);
    DestroyWindow(parent);
}

TEST(resizableDialog, minimumSizeHoldsWhicheverEdgeIsDragged)
{
    HWND w = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    resizableDialog dialog(w);
    dialog.setMinimumSize(resizableDialog::limitWidth | resizableDialog::limitHeight, nullptr);
    RECT r{50, 50, 100, 80};
    dialog.limitSizing(WMSZ_TOPLEFT, &r);
    EXPECT_EQ(r.left, 100 - 200);
    EXPECT_EQ(r.top, 80 - 100);
    RECT s{50, 50, 100, 80};
    dialog.limitSizing(WMSZ_BOTTOMRIGHT, &s);
    EXPECT_EQ(s.right, 250);
    EXPECT_EQ(s.bottom, 150);
    SIZE most{300, 150};
    dialog.setMaximumSize(resizableDialog::limitWidth, &most);
    RECT t{0, 0, 500, 120};
    dialog.limitSizing(WMSZ_RIGHT, &t);
    EXPECT_EQ(t.right, 300);
    DestroyWindow(w);
}
