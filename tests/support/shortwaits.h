#ifndef SHORTWAITS_H
#define SHORTWAITS_H

#include "timing.h"

// The program's waits, shortened so that the tests' time-outs come in a second or two.
inline Timing shortWaits()
{
    Timing timing;
    timing.startDelayMs = 50;
    timing.watchdogPeriodMs = 250;
    timing.checkTimeoutMs = 2000;
    timing.downloadStallMs = 1500;
    return timing;
}

#endif // SHORTWAITS_H
