#pragma once

#include <QtGlobal>

// How long a run waits before its check and how long it lets the service stay silent. The
// program always uses the defaults: nothing reads them from a file or the environment. Tests
// shorten them through setForTests() before a run starts; the pauses of a run go through the
// platform layer, which tests replace as a whole.
struct Timing
{
    int startDelayMs = 1000;
    int watchdogPeriodMs = 2000;
    // No check answer for longer than this hands over to the client.
    qint64 checkTimeoutMs = 9999;
    // No package data for longer than this fails the download.
    qint64 downloadStallMs = 5999;

    static const Timing& current();
    static void setForTests(const Timing& timing);
};
