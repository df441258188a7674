#include "clientrun.h"

#include "dwondialog.h"
#include "httpdownloadfile.h"
#include "shortwaits.h"

#include <QApplication>

namespace {
// The client reads the start delay when it is made.
HttpDownLoadFile* makeClientWithShortWaits()
{
    Timing::setForTests(shortWaits());
    return new HttpDownLoadFile;
}
} // namespace

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
