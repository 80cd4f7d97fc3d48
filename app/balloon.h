// Short notices in a balloon pointing at the code box: why a query showed nothing or a period
// press reached only one of the programs, and that the stock program runs with rights that keep
// the tool out. The balloon takes no focus, blocks nothing and goes away by itself after a few
// seconds.
#pragma once

#include "stocklink/query.h"

#include <windows.h>

// Shows the GBK text in the balloon for noticeDuration ms, replacing any notice shown.
void showNotice(const char* text);

// The sentence for a query's outcome; nullptr for a shown code and for a refused one, which has
// its message box.
const char* queryOutcomeText(QueryOutcome outcome);

// After a query: the balloon with its cause when nothing was shown.
void tellQueryOutcome(QueryOutcome outcome);

// After a period press: the balloon when the stock program, the terminal or the chart the press
// raises was not there (the rest of the press was done all the same); nothing when all were.
void tellPeriodOutcome(bool stockProgramThere);

// After a click of the adjustment check box: the balloon when the stock program was not there.
void tellAdjustOutcome(bool stockProgramThere);

// For each status tick: tells once per stock-program process that it runs with higher rights.
void tellStockProgramRights();

constexpr UINT noticeDuration = 5000;
