// The query: records the typed code in the recent-codes list, types it into the stock program's
// keyboard wizard so that the stock program switches to that stock, and saves the list.
#pragma once

#include "base/fixed_text.h"
#include "stocklink/recent_codes.h"

#include <windows.h>

// The query's working state.
extern CodeText codeText;
extern int recentCount;
extern HWND wizardWindow;
extern FixedText<255> wizardClass;
extern FixedText<255> wizardTitle;
extern short keyIndex;

// The longest code the stock program takes, in bytes of the ANSI code page.
constexpr std::size_t longestCode = 6;

// Bounds the wait for the keyboard wizard to take every typed key and then the code, so a busy or
// hung stock program cannot freeze the tool.
constexpr UINT wizardSendTimeout = 2000;

void handleQuery();
