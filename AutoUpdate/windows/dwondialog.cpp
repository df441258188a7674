#include "windows/dwondialog.h"
#include "ui_dwondialog.h"

#include "global.h"
#include "release/releaseoffer.h"
#include "windows/dialogcommon.h"
#include "windows/netdialog.h"

#include <QCloseEvent>

#include <limits>

namespace {
const QString kBlueBarStyle = QStringLiteral(
    "QProgressBar{background-color: rgba(217,231,253,1);border-radius: 4px; "
    "}QProgressBar::chunk:enabled{background-color: rgba(66,133,246,1);border-radius: 4px;;}");
const QString kRedBarStyle = QStringLiteral(
    "QProgressBar{background-color: rgba(250,81,81,0.1);border-radius: 4px; "
    "}QProgressBar::chunk:enabled{background-color: rgba(250,81,81,1);border-radius: 4px;;}");
const QString kOutlinedButtonStyle = QStringLiteral(
    "QPushButton{font-size:14px;font-weight:400;color:rgba(32,49,82,1);line-height:20px;"
    "background:rgba(255,255,255,1);border-radius:4px;border:1px solid "
    "rgba(32,49,82,0.2);}QPushButton::normal{ border:1px solid "
    "rgba(32,49,82,0.2);}QPushButton::hover{border:1px solid "
    "rgba(66,133,246,1);}QPushButton::pressed{color:rgba(66,133,246,1);border:1px solid "
    "rgba(66,133,246,1);;}");
const QString kFilledButtonStyle = QStringLiteral(
    "QPushButton{font-size:14px;font-weight:400;color:rgba(255,255,255,1);line-height:20px;"
    "background-color:rgba(66,133,246,1);border-radius:4px;}QPushButton::normal{ "
    "background-color:linear-gradient(133deg,rgba(50,122,255,1) 0%,rgba(104,157,243,1) 100%) "
    "rgba(66,133,246,1);}QPushButton::hover{background:rgba(85,145,246,1);}QPushButton::"
    "pressed{background-color:rgba(62,124,228,1);;}");
// The outlined button faded, so that it plainly cannot be pressed.
const QString kDisabledButtonStyle = QStringLiteral(
    "QPushButton{font-size:14px;font-weight:400;color:rgba(32,49,82,0.3);line-height:20px;"
    "background:rgba(255,255,255,1);border-radius:4px;border:1px solid rgba(32,49,82,0.1);}");
// A style sheet replaces the form's whole one, so the status line's colours keep its font.
const QString kStatusFont = QStringLiteral("font-size:14px;font-weight:400;line-height:22px;");
const QString kRedTextStyle = kStatusFont + QStringLiteral("color:rgba(250,81,81,1);");
const QString kBlackTextStyle = kStatusFont + QStringLiteral("color:black;");

QString CancelCaption(bool english)
{
    return english ? QStringLiteral("Cancel") : QStringLiteral("取消");
}

QString InstallingText(bool english)
{
    return english ? QStringLiteral("Installing, please wait...")
                   : QStringLiteral("正在安装，请稍候...");
}

QString RebuildingText(bool english)
{
    return english ? QStringLiteral("Preparing the update, please wait...")
                   : QStringLiteral("正在准备更新，请稍候...");
}

QString RetryCaption(bool english)
{
    return english ? QStringLiteral("Retry") : QStringLiteral("重试");
}

QString StatusText(const QString& progress, bool english)
{
    const QString text =
        english ? QStringLiteral("installing......") : QStringLiteral("正在安装中......");
    return text + progress;
}

// Without a known total there is no share to show, only how much has arrived.
QString ProgressText(qint64 bytesRead, qint64 totalBytes)
{
    if (totalBytes <= 0)
        return MebibyteText(bytesRead) + QLatin1Char('M');
    return QString::number(bytesRead * 100 / totalBytes) + QLatin1Char('%');
}

QString FailureText(UpdateFailure failure, bool english)
{
    switch (failure) {
    case UpdateFailure::Corrupted:
        return english ? QStringLiteral("File conrrupted, update failed.")
                       : QStringLiteral("文件损坏，更新失败");
    case UpdateFailure::InstallFailed:
        return english ? QStringLiteral("Update failed.") : QStringLiteral("更新失败");
    case UpdateFailure::Network:
        break;
    }
    return english ? QStringLiteral("Installation failed. Network exception, please check.")
                   : QStringLiteral("安装失败，网络异常，请检查网络");
}

// The bar counts in int: from 2 GiB on it counts KiB (or larger units), value and maximum alike.
qint64 BarUnit(qint64 largestCount)
{
    qint64 unit = 1;
    while (largestCount / unit > std::numeric_limits<int>::max())
        unit *= 1024;
    return unit;
}
} // namespace

DwonDialog::DwonDialog(QWidget* parent)
    : QDialog(parent), m_netDlg(new NetDialog(nullptr)), ui(new Ui::DwonDialog)
{
    LoadDialogImages();
    ui->setupUi(this);
    SetUpUpdateWindow(this);

    ui->dockWidget->setFixedSize(199, 114);
    // An empty title bar widget is how a dock shows no title bar at all.
    QWidget* formerTitleBar = ui->dockWidget->titleBarWidget();
    ui->dockWidget->setTitleBarWidget(new QWidget());
    ui->dockWidget->setWidget(m_netDlg);
    delete formerTitleBar;
    ui->dockWidget->hide();

    connect(m_netDlg, &NetDialog::cancleSignal, this, &DwonDialog::CloseCancleDlg);
    connect(m_netDlg, &NetDialog::sureSignal, this, &DwonDialog::QuitDwonThread);
    connect(ui->cancleBtn, &QPushButton::clicked, this, &DwonDialog::CancleDownload);
    connect(this, &DwonDialog::ErrSignal, this, &DwonDialog::UpdateErrorState);
}

DwonDialog::~DwonDialog()
{
    delete ui;
}

void DwonDialog::InitUpdateInfo(const ReleaseOffer& offer)
{
    m_packageSize = offer.packageSize;
    const bool english = IsEnglish();
    if (english) {
        setWindowTitle(AppUpdateTitle());
        ui->labText->setText(QStringLiteral("QUORVEX"));
        ui->cancleBtn->setText(CancelCaption(english));
    }
    ui->labVersion->setText(VersionLineText(offer, english));
    ui->labInstall->setText(StatusText(QStringLiteral("0%"), english));
    ShowBarPosition(0, m_packageSize);
    ui->progressBar->setStyleSheet(kBlueBarStyle);
}

// The caption tells what the button means at the moment.
void DwonDialog::CancleDownload()
{
    const QString caption = ui->cancleBtn->text();
    if (caption == CancelCaption(false) || caption == CancelCaption(true)) {
        AskToCancel();
        return;
    }
    if (caption == RetryCaption(false) || caption == RetryCaption(true))
        RetryDownload();
}

void DwonDialog::CloseCancleDlg()
{
    ui->dockWidget->hide();
}

// A confirmation that comes as the installation begins is too late: the installation ends the run
// itself, with the client started.
void DwonDialog::QuitDwonThread()
{
    if (!g_global.m_runEnd.Cancel())
        CloseCancleDlg();
}

// The worker reports a failure only once it has given up, so any installation has ended by now.
void DwonDialog::UpdateErrorState(QString msg)
{
    g_global.m_runEnd.EndInstallation();
    ui->cancleBtn->setEnabled(true);
    ui->cancleBtn->setText(RetryCaption(IsEnglish()));
    ui->cancleBtn->setStyleSheet(kFilledButtonStyle);
    ui->labInstall->setText(msg);
    ui->labInstall->setStyleSheet(kRedTextStyle);
    ui->progressBar->setStyleSheet(kRedBarStyle);
}

void DwonDialog::ShowFailure(UpdateFailure failure)
{
    emit ErrSignal(FailureText(failure, IsEnglish()));
}

// The look stays as it is: a report during the error state leaves the red styles in place.
void DwonDialog::UpdateProgressBar(qint64 bytesRead, qint64 totalBytes)
{
    ShowBarPosition(bytesRead, totalBytes);
    ui->labInstall->setText(StatusText(ProgressText(bytesRead, totalBytes), IsEnglish()));
}

// Once installing has begun there is nothing left to cancel.
void DwonDialog::UpdateInstallState()
{
    CloseCancleDlg();
    ui->cancleBtn->setEnabled(false);
    ui->cancleBtn->setStyleSheet(kDisabledButtonStyle);
    ui->labInstall->setText(InstallingText(IsEnglish()));
}

// The update is built from the installed files and the downloaded changes; until it is copied,
// the user may still cancel.
void DwonDialog::UpdateRebuildState()
{
    ui->progressBar->setValue(ui->progressBar->maximum());
    ui->labInstall->setText(RebuildingText(IsEnglish()));
}

// Escape rejects a dialog, which would hide the window while the update goes on unseen; it means
// what the close button means.
void DwonDialog::reject()
{
    close();
}

// Closing the window must go through the confirmation like the cancel button.
void DwonDialog::closeEvent(QCloseEvent* event)
{
    AskToCancel();
    event->ignore();
}

void DwonDialog::UpdateNormalState()
{
    const bool english = IsEnglish();
    ui->cancleBtn->setStyleSheet(kOutlinedButtonStyle);
    ui->labInstall->setText(StatusText(QStringLiteral("0%"), english));
    ui->cancleBtn->setText(CancelCaption(english));
    ui->progressBar->setValue(0);
    ui->labInstall->setStyleSheet(kBlackTextStyle);
    ui->progressBar->setStyleSheet(kBlueBarStyle);
}

void DwonDialog::AskToCancel()
{
    if (!g_global.m_runEnd.IsInstalling())
        ui->dockWidget->show();
}

// A retry that still finds a volume without room leaves the error and its message as they are.
void DwonDialog::RetryDownload()
{
    if (!g_global.VolumeLackingSpace(m_packageSize).isEmpty())
        return;
    emit GetPackAgain();
    UpdateNormalState();
}

void DwonDialog::ShowBarPosition(qint64 bytesRead, qint64 totalBytes)
{
    const qint64 unit = BarUnit(qMax(qMax(m_packageSize, totalBytes), bytesRead));
    ui->progressBar->setMaximum(static_cast<int>(m_packageSize / unit));
    ui->progressBar->setValue(static_cast<int>(bytesRead / unit));
}
