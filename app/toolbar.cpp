#include "app/toolbar.h"

#include "base/ui_text.h"
#include "res/resource.h"
#include "termlink/period.h"

#include <commctrl.h>

namespace {

constexpr int firstListIcon = IDI_PERIOD_M1;
constexpr int lastListIcon = IDI_SCREEN_ONE_LIT;

// The whole icon range goes into the list, although the buttons show only the first nine. The
// images are small icons at the screen's density.
HIMAGELIST createToolbarImages() {
    int size = smallIconSize();
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 3, 1);
    for (int number = firstListIcon; number <= lastListIcon; ++number) {
        HICON icon = loadProgramIcon(number, size);
        if (!icon)
            continue;
        ImageList_ReplaceIcon(images, -1, icon);
        DestroyIcon(icon); // the list keeps its own copy
    }
    return images;
}

// The toolbar's string pool takes double-zero-terminated text.
LRESULT addToolbarString(HWND toolbar, const char* text) {
    wchar_t wide[64];
    int size = gbkToWide(text, wide, 63);
    wide[size + 1] = L'\0';
    return SendMessageW(toolbar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(wide));
}

// The buttons are as wide as their icon and text need. Where the dialog font is drawn wider than
// usual the nine of them can overflow one row; the wrapped toolbar then grows upward over the
// code box and the options and takes their clicks. So they give up padding until they fit.
void fitOnOneRow(HWND toolbar) {
    DWORD padding = static_cast<DWORD>(SendMessageW(toolbar, TB_GETPADDING, 0, 0));
    for (int across = LOWORD(padding) - 1;
         across >= 0 && SendMessageW(toolbar, TB_GETROWS, 0, 0) > 1; --across) {
        SendMessageW(toolbar, TB_SETPADDING, 0, MAKELPARAM(across, HIWORD(padding)));
        // A font change makes the toolbar measure its buttons again.
        SendMessageW(toolbar, WM_SETFONT, SendMessageW(toolbar, WM_GETFONT, 0, 0), FALSE);
        SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
    }
}

} // namespace

void buildPeriodToolbar(HWND dialog, int toolbarId) {
    HWND toolbar = GetDlgItem(dialog, toolbarId);
    SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(createToolbarImages()));
    SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
    for (int position = 0; position < periodCount; ++position) {
        const PeriodRow& row = periodTable[position];
        TBBUTTON button = {};
        button.iBitmap = position;
        button.idCommand = row.controlId;
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE;
        button.iString = addToolbarString(toolbar, row.toolbarText);
        SendMessageW(toolbar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
        SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
    }
    fitOnOneRow(toolbar);
}
