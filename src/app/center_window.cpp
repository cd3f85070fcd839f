#include "app/chooser.h"

BOOL center_window(HWND wnd)
{
    RECT r;
    GetWindowRect(wnd, &r);
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    int sx = GetSystemMetrics(SM_CXSCREEN);
    int sy = GetSystemMetrics(SM_CYSCREEN);
    // Each half on its own: 1024 and 301 give 512 - 150 = 362.
    int x = sx / 2 - w / 2;
    int y = sy / 2 - h / 2;
    // A window larger than the screen keeps its far edge on screen. Only such
    // a window starts left of or above the screen, so no other clamp is needed.
    if (x + w > sx)
        x = sx - w;
    if (y + h > sy)
        y = sy - h;
    MoveWindow(wnd, x, y, w, h, FALSE);
    return TRUE;
}
