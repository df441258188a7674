#include "updaterun.h"

#include "httpdownloadfile.h"
#include "windows/dwondialog.h"

UpdateRun::UpdateRun() : m_client(new HttpDownLoadFile(nullptr))
{
    ConnectWindows();
    m_client->moveToThread(&m_worker);
    // The network objects belong to the worker thread and are released there as it ends.
    QObject::connect(&m_worker, &QThread::finished, m_client, &HttpDownLoadFile::DeleteResource,
                     Qt::DirectConnection);
    m_worker.start(QThread::InheritPriority);
}

UpdateRun::~UpdateRun()
{
    m_worker.exit(0);
    m_worker.wait();
    delete m_client;
}

// The windows follow the road's signals: the prompt is shown for an offered release, the progress
// window follows the download and the install, and the user's choice starts the download.
void UpdateRun::ConnectWindows()
{
    DwonDialog* progress = m_prompt.m_dwonDlg;
    QObject::connect(m_client, &HttpDownLoadFile::Aupdate, &m_prompt, &UpdateDialog::updateMode);
    QObject::connect(m_client, &HttpDownLoadFile::UpdateBar, progress,
                     &DwonDialog::UpdateProgressBar);
    QObject::connect(m_client, &HttpDownLoadFile::InstallStarted, progress,
                     &DwonDialog::UpdateInstallState);
    QObject::connect(m_client, &HttpDownLoadFile::RebuildStarted, progress,
                     &DwonDialog::UpdateRebuildState);
    QObject::connect(m_client, &HttpDownLoadFile::UpdateFailed, progress, &DwonDialog::ShowFailure);
    QObject::connect(&m_prompt, &UpdateDialog::getPack, m_client, &HttpDownLoadFile::GetPackData);
}
