// The query: records the typed code in the recent-codes list, types it into the stock program's
// keyboard wizard so that the stock program switches to that stock, and saves the list.
#pragma once

#include "base/fixed_text.h"
#include "stocklink/recent_codes.h"

#include <windows.h>

// The longest code the stock program takes, in bytes of the ANSI code page.
constexpr std::size_t longestCode = 6;

// How a query ended. Every outcome but shown and refused means that the stock program got neither
// the code nor Enter, for the reason named.
enum class QueryOutcome {
    shown,             // the code was set into the wizard and Enter pressed; the list was saved
    refused,           // the code was too long; the message box said so
    noLettersOrDigits, // the code holds no letter and no digit: nothing was done
    noStockProgram,    // no stock-program window to go to
    notInFront,        // the stock program did not come (or come back) to the front
    noWizard,          // the keys opened no keyboard wizard
    stillTakingKeys,   // the wizard was still taking keys at the bound, or stopped answering
    higherRights,      // the stock program runs with higher rights than the tool
};

QueryOutcome handleQuery();

// The call that presses and releases the keys, keybd_event; the tests watch every key through it.
using KeyEvent = void(WINAPI*)(BYTE key, BYTE scanCode, DWORD flags, ULONG_PTR extraInfo);
extern KeyEvent keyEvent;

// The outcome of the last query, for the tests and benchmarks that drive it through the window.
QueryOutcome lastQueryOutcome();

// Forgets the query's working state and what is known of the stock programs' rights (for tests).
void resetQueryState();
