// The fixed waits of the query and of a timer tick: plain sleeps of the user-interface thread,
// so that the other programs get time to act while nothing here is pumped.
#pragma once

using PauseHook = void (*)(unsigned milliseconds);

// Tests that drive thousands of queries in one process replace the sleep through this; the
// shipped program never sets it.
extern PauseHook pauseHook;

void pause(unsigned milliseconds);
