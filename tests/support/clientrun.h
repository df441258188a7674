#pragma once

#include "base/timing.h"
#include "updaterun.h"
#include "windows/dwondialog.h"

#include <QApplication>

#include <optional>

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

// A run as the program makes it, with the waits of shortWaits(): the check starts shortly after.
// Destroying the run stops its thread and closes every window it opened.
class ClientRun
{
public:
    ClientRun()
    {
        // The client reads the start delay when it is made.
        Timing::setForTests(shortWaits());
        m_run.emplace();
    }
    ~ClientRun()
    {
        m_run.reset();
        // The progress dialog outlives the prompt; a run here ends with the test.
        qDeleteAll(QApplication::topLevelWidgets());
    }

    HttpDownLoadFile* client() const { return m_run->client(); }
    DwonDialog* progressDialog() const
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<DwonDialog*>(widget))
                return dialog;
        }
        return nullptr;
    }

private:
    std::optional<UpdateRun> m_run;
};
