#ifndef CLIENTRUN_H
#define CLIENTRUN_H

#include "base/timing.h"
#include "httpdownloadfile.h"
#include "windows/dwondialog.h"

#include <QApplication>
#include <QThread>

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

// The network client on a worker thread, wired as the program wires it, with the waits of
// shortWaits(): the check starts shortly after. Destroying the run stops the thread and closes
// every window it opened.
class ClientRun
{
public:
    ClientRun()
    {
        // The client reads the start delay when it is made.
        Timing::setForTests(shortWaits());
        m_client = new HttpDownLoadFile;
        m_client->moveToThread(&m_worker);
        QObject::connect(&m_worker, &QThread::finished, m_client, &HttpDownLoadFile::DeleteResource,
                         Qt::DirectConnection);
        m_worker.start();
    }
    ~ClientRun()
    {
        m_worker.quit();
        m_worker.wait();
        delete m_client;
        // The progress dialog outlives the prompt; a run here ends with the test.
        qDeleteAll(QApplication::topLevelWidgets());
    }

    HttpDownLoadFile* client() const { return m_client; }
    DwonDialog* progressDialog() const
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<DwonDialog*>(widget))
                return dialog;
        }
        return nullptr;
    }

private:
    QThread m_worker;
    HttpDownLoadFile* m_client;
};

#endif // CLIENTRUN_H
