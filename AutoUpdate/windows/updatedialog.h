#pragma once

#include "release/releaseoffer.h"

#include <QDialog>

class DwonDialog;
namespace Ui {
class UpdateDialog;
}

// The prompt for a newer client version: update later (optionally never reminding of this
// version again) or now; in forced mode only now.
class UpdateDialog : public QDialog
{
    Q_OBJECT

public:
    explicit UpdateDialog(QWidget* parent = nullptr);
    ~UpdateDialog() override;

    // The progress dialog lives until the run ends; the network client drives it directly.
    DwonDialog* m_dwonDlg;

signals:
    void getPack();

public slots:
    void LaterUpdate();
    void ImmediatelyUpdate();
    // Shows the prompt for offer, or with "-immediately" goes straight to the download.
    void updateMode(const ReleaseOffer& offer);
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowPromptTexts(bool forced);
    void StopRunningClient();

    Ui::UpdateDialog* ui;
    ReleaseOffer m_offer;
};
