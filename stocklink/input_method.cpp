#include "stocklink/input_method.h"

#include <imm.h>

ImeRouteFor imeRoute = defaultImeRoute;

ImeRoute defaultImeRoute(HWND window) {
    return {window ? ImmGetDefaultIMEWnd(window) : nullptr, WM_IME_CONTROL};
}
