#pragma once
// The user32 window-placement calls that the settings store relies on, for Qt top-level widgets.
//
// A placement is the window's show state and its normal (restored) frame rectangle in screen
// pixels, plus the minimised and maximised positions that Windows keeps per window. Qt has no
// such positions, so they are kept with the widget and only travel through the placement.
#include "platform/WinTypes.h"

class QWidget;

namespace settings::win {

using platform::UINT;

struct POINT {
    int x = 0;
    int y = 0;
};

struct RECT {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct WINDOWPLACEMENT {
    UINT length = sizeof(WINDOWPLACEMENT);
    UINT flags = 0;
    UINT showCmd = 0;
    POINT ptMinPosition;
    POINT ptMaxPosition;
    RECT rcNormalPosition;
};

inline constexpr UINT SW_HIDE = 0;
inline constexpr UINT SW_SHOWNORMAL = 1;
inline constexpr UINT SW_SHOWMINIMIZED = 2;
inline constexpr UINT SW_SHOWMAXIMIZED = 3;

inline constexpr UINT WPF_SETMINPOSITION = 0x0001;
inline constexpr UINT WPF_RESTORETOMAXIMIZED = 0x0002;

inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
inline constexpr int SM_CXBORDER = 5;
inline constexpr int SM_CYBORDER = 6;
inline constexpr int SM_CXDLGFRAME = 7;
inline constexpr int SM_CYDLGFRAME = 8;
inline constexpr int SM_CXFRAME = 32;
inline constexpr int SM_CYFRAME = 33;

bool GetWindowPlacement(const QWidget *window, WINDOWPLACEMENT *placement);
// Moves the window's normal rectangle and applies the show command (SW_HIDE hides it; the others
// show it in that state). Like Windows, a rectangle that lies on no screen is moved onto the
// primary screen, so a position saved with another monitor set-up never loses the window.
bool SetWindowPlacement(QWidget *window, const WINDOWPLACEMENT *placement);
bool IsWindowVisible(const QWidget *window);
bool IsIconic(const QWidget *window);
// The screen size of the primary screen and the classic border sizes of Windows.
int GetSystemMetrics(int index);
// The primary screen's logical pixels per inch (what Windows calls the screen's PixelsPerInch).
int ScreenPixelsPerInch();

enum class BorderStyle { None, Single, Sizeable, Dialog };
// The Windows border style a widget's window flags and size policy correspond to: frameless is
// none, a dialog has a dialog frame, a tool window or a window of fixed size a single border,
// anything else a sizeable one.
BorderStyle BorderStyleOf(const QWidget *window);

}  // namespace settings::win
