#pragma once

#include "download/updatefailure.h"

#include <QDialog>

struct ReleaseOffer;

class NetDialog;
namespace Ui {
class DwonDialog;
}

// The window shown while the package is downloaded and installed. In its normal state its button
// cancels (after a confirmation); in its error state the status line shows the message in red and
// the button retries the download.
class DwonDialog : public QDialog
{
    Q_OBJECT

public:
    explicit DwonDialog(QWidget* parent = nullptr);
    ~DwonDialog() override;

    void InitUpdateInfo(const ReleaseOffer& offer);

signals:
    void GetPackAgain();
    void ErrSignal(QString msg);

public slots:
    void CancleDownload();
    void CloseCancleDlg();
    void QuitDwonThread();
    void UpdateErrorState(QString msg);
    // Tells why the update cannot go on, in the status line.
    void ShowFailure(UpdateFailure failure);
    void UpdateProgressBar(qint64 bytesRead, qint64 totalBytes);
    void UpdateInstallState();
    void UpdateRebuildState();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void UpdateNormalState();
    void AskToCancel();
    void RetryDownload();
    void ShowBarPosition(qint64 bytesRead, qint64 totalBytes);

    NetDialog* m_netDlg;
    qint64 m_packageSize = 0;
    Ui::DwonDialog* ui;
};
