// Resource numbers shared by the resource script and the code.
#pragma once

#define IDR_IMGFILE14_NAME "IDR_IMGFILE14"

// Period toolbar pictures, in button order: image index n is icon 102 + n.
#define IDI_PERIOD_M1 102
#define IDI_PERIOD_M5 103
#define IDI_PERIOD_M15 104
#define IDI_PERIOD_M30 105
#define IDI_PERIOD_M60 106
#define IDI_PERIOD_M240 107
#define IDI_PERIOD_DAY 108
#define IDI_PERIOD_WEEK 109
#define IDI_PERIOD_MONTH 110
#define IDI_BOLT_TABLE 111
#define IDI_SCREENS_LIT 112
#define IDI_SCREENS_DARK 113
#define IDI_SCREEN_ONE_LIT 114
