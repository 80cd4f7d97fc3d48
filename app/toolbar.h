// The period toolbar: nine buttons from one minute to one month, each with its icon to the left
// of its text, sending its command ID to the dialog that holds the toolbar.
#pragma once

#include <windows.h>

// Gives the toolbar (the dialog's child with toolbarId) its image list and its buttons.
void buildPeriodToolbar(HWND dialog, int toolbarId);
