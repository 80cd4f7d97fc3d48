// Whether the stock program runs with higher rights than the tool. Since Windows Vista the system
// drops a lower program's key events to a higher one and refuses its messages with
// ERROR_ACCESS_DENIED, so a query to such a program can only fail; the user has to be told why.
#pragma once

#include <windows.h>

enum class Rights { notHigher, higher, unknown };

// Compares another process's rights with the tool's own.
using RightsProbe = Rights (*)(DWORD process);

// The elevation and integrity level of the process's token against the tool's own (Vista and
// later); unknown wherever the system cannot tell, as on Windows XP.
Rights compareProcessRights(DWORD process);

// The probe in use: compareProcessRights. Wine has no separation of rights, so tests replace it.
extern RightsProbe rightsProbe;

// A message sent to the stock program, as SendMessageTimeoutW (texts in UTF-16). A send that the
// system refuses with ERROR_ACCESS_DENIED is a sign of higher rights. Tests replace it with one
// that is refused.
using StockSend = LRESULT(WINAPI*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT flags, UINT timeout, PDWORD_PTR result);
extern StockSend stockSend;

// Whether the process is known to run with higher rights: the probe runs once per process, and a
// refused call marks the process for good.
bool hasHigherRights(DWORD process);
void markHigherRights(DWORD process);

// True the first time it is asked for a process with higher rights, false ever after: the caller
// tells the user once per process.
bool takeRightsNotice(DWORD process);

// Forgets every process, and puts back the probe and the send (for tests).
void resetRights();
