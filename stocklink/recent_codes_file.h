// DAIMA.DAT in the current directory: the recent-codes list loaded at start-up and saved after
// each completed query (its format is in recent_codes.h).
#pragma once

#include <windows.h>

// Adds every line of the file to the combo box; a missing or unreadable file adds nothing.
void loadRecentCodes(HWND combo);

// Writes the first entries of the code list to DAIMA.DAT through a temporary file, so that the
// file always holds either the old list or the new one, whole. A read-only DAIMA.DAT is left alone.
void saveRecentCodes(HWND combo, int entries);
