#include "clientrun.h"

#include "dwondialog.h"
#include "httpdownloadfile.h"

#include <QApplication>

namespace {
// The client reads the start delay when it is made.
HttpDownLoadFile* makeClientWithShortWaits()
{
    Timing::setForTests(ClientRun::shortWaits());
    return new HttpDownLoadFile;
}
} // namespace

Timing ClientRun::shortWaits()
{
    Timing timing;
    timing.startDelayMs = 50;
    timing.watchdogPeriodMs = 250;
    timing.checkTimeoutMs = 2000;
    timing.downloadStallMs = 1500;
    return timing;
}

ClientRun::ClientRun() : m_client(makeClientWithShortWaits())
{
    m_client->moveToThread(&m_worker);
    QObject::connect(&m_worker, &QThread::finished, m_client, &HttpDownLoadFile::DeleteResource,
                     Qt::DirectConnection);
    m_worker.start();
}

ClientRun::~ClientRun()
{
    m_worker.quit();
    m_worker.wait();
    delete m_client;
    // The progress dialog outlives the prompt for the whole run; here a run ends with the test.
    qDeleteAll(QApplication::topLevelWidgets());
}

DwonDialog* ClientRun::progressDialog() const
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<DwonDialog*>(widget))
            return dialog;
    }
    return nullptr;
}
