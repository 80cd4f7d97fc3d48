// The input method of the stock program's windows. Switched on in Chinese (native) or full-width
// mode, it makes the letter keys of a code into a composition, the digit keys into the choice of a
// candidate or full-width digits, and swallows the Enter that commits a composition; so the query
// switches such a mode to alphanumeric half-width for its keys, and back when it ends.
#pragma once

#include <windows.h>

// The commands of WM_IME_CONTROL, as the input-method kit names them.
constexpr WPARAM imeGetConversionMode = 0x0001; // IMC_GETCONVERSIONMODE
constexpr WPARAM imeSetConversionMode = 0x0002; // IMC_SETCONVERSIONMODE
constexpr WPARAM imeGetOpenStatus = 0x0005;     // IMC_GETOPENSTATUS
// The modes that turn a letter or digit key into something else.
constexpr DWORD imeKeyChangingModes = 0x0001 /* IME_CMODE_NATIVE */ | 0x0008 /* FULLSHAPE */;

// Where the input method of a window takes its commands: a window, and the message that carries
// an IMC_ command in wParam and its value in lParam. A window of 0: the window has none.
struct ImeRoute {
    HWND window;
    UINT message;
};
using ImeRouteFor = ImeRoute (*)(HWND window);

// The default IME window of the window's thread, with WM_IME_CONTROL. Its answer is that of the
// input context of the window that has the focus in that thread.
ImeRoute defaultImeRoute(HWND window);

// The route in use: defaultImeRoute. Wine's default IME window answers every WM_IME_CONTROL with
// 1 and changes nothing, so the tests replace it with one to the stand-in's own input method.
extern ImeRouteFor imeRoute;
