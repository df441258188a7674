#include "windows/updatedialog.h"
#include "ui_updatedialog.h"

#include "check/launchrules.h"
#include "global.h"
#include "platform/platform.h"
#include "windows/dialogcommon.h"
#include "windows/dwondialog.h"

#include <QScrollBar>

namespace {
const QString kForcedMode = QStringLiteral("2");

const QString kNotesScrollBarStyle = QStringLiteral(
    "QScrollBar:vertical{background-color:white;width:4px;}QScrollBar::handle:vertical{"
    "background:white;}QScrollBar::add-line:vertical "
    "{background-color:white;}QScrollBar::sub-line:vertical "
    "{background-color:white;}QScrollBar::add-page:vertical "
    "{background-color:white;}QScrollBar::sub-page:vertical "
    "{background-color:white;}QScrollBar::handle:vertical{background-color:rgba(32,49,82,0.1);"
    "border-radius:2px;border:none;;}");
const QString kNormalHeadlineStyle = QStringLiteral(
    "QLabel{font-size:16px;font-weight:500;color:rgba(32,49,82,1);line-height:22px;;}");
// The forced headline is longer and only fits the label in a smaller font.
const QString kForcedHeadlineStyle = QStringLiteral(
    "QLabel{font-size:12px;font-weight:500;color:rgba(32,49,82,1);line-height:22px;;}");

QString Headline(bool forced, bool english)
{
    if (forced) {
        return english ? QStringLiteral("New version detected. Please update now for normal use.")
                       : QStringLiteral("检测到新版本，更新后才能正常使用，请立即更新");
    }
    return english ? QStringLiteral("New version detected, update?")
                   : QStringLiteral("检测到新版本，是否更新?");
}

QString DiskSpaceMessage(const QString& volume, bool english)
{
    const QString text = english ? QStringLiteral("Disk out of space on %1, update failed.")
                                 : QStringLiteral("%1 磁盘空间不足，更新失败!");
    return text.arg(volume);
}
} // namespace

UpdateDialog::UpdateDialog(QWidget* parent)
    : QDialog(parent), m_dwonDlg(new DwonDialog(nullptr)), ui(new Ui::UpdateDialog)
{
    LoadDialogImages();
    ui->setupUi(this);
    SetUpUpdateWindow(this);
    ui->updateText->verticalScrollBar()->setStyleSheet(kNotesScrollBarStyle);

    connect(ui->laterBtn, &QPushButton::clicked, this, &UpdateDialog::LaterUpdate);
    connect(ui->immedBtn, &QPushButton::clicked, this, &UpdateDialog::ImmediatelyUpdate);
    connect(m_dwonDlg, &DwonDialog::GetPackAgain, this, &UpdateDialog::getPack);
}

UpdateDialog::~UpdateDialog()
{
    delete ui;
}

void UpdateDialog::LaterUpdate()
{
    // A choice that cannot be recorded would be asked again at the next start, so the client is
    // not started either.
    if (ui->checkRemid->checkState() == Qt::Checked &&
        g_global.WriteConfigToFile(QStringLiteral("remid"), m_offer.version) != 0) {
        g_global.m_runEnd.End();
        return;
    }
    // The updater's own switches must not reach the client.
    g_global.m_args.clear();
    g_global.UpAppThread();
}

void UpdateDialog::ImmediatelyUpdate()
{
    StopRunningClient();
    m_dwonDlg->InitUpdateInfo(m_offer);
    m_dwonDlg->show();
    hide();

    const QString volume = g_global.VolumeLackingSpace(m_offer.packageSize);
    if (volume.isEmpty())
        emit getPack();
    else
        emit m_dwonDlg->ErrSignal(DiskSpaceMessage(volume, IsEnglish()));
}

void UpdateDialog::updateMode(const ReleaseOffer& offer)
{
    m_offer = offer;
    if (LaunchRules::skipsPrompt(g_global.m_args)) {
        ImmediatelyUpdate();
        return;
    }
    const bool forced = offer.isForced();
    ShowPromptTexts(forced);
    ui->updateText->setText(offer.notesIn(g_global.m_language));
    ui->updateText->setReadOnly(true);
    ui->updateText->setTextInteractionFlags(Qt::NoTextInteraction);
    if (forced) {
        ui->checkRemid->hide();
        ui->laterBtn->hide();
    }
    if (LaunchRules::hidesNeverRemind(g_global.m_args))
        ui->checkRemid->hide();
    show();
}

void UpdateDialog::closeEvent(QCloseEvent*)
{
    if (m_offer.offersLater())
        LaterUpdate();
    else if (m_offer.updateMode == kForcedMode)
        g_global.m_runEnd.End();
}

// Escape rejects a dialog, which would only hide the prompt and end the run on the way; it means
// what the close button means.
void UpdateDialog::reject()
{
    close();
}

// The Chinese texts of the form are those of the normal prompt; only the headline and the version
// line change with the mode and the version.
void UpdateDialog::ShowPromptTexts(bool forced)
{
    const bool english = IsEnglish();
    if (english) {
        setWindowTitle(AppUpdateTitle());
        ui->labText->setStyleSheet(forced ? kForcedHeadlineStyle : kNormalHeadlineStyle);
        ui->laterBtn->setText(QStringLiteral("Later"));
        ui->immedBtn->setText(QStringLiteral("Update"));
        ui->checkRemid->setText(QStringLiteral("Never Prompt"));
    }
    ui->labText->setText(Headline(forced, english));
    ui->labVersion->setText(VersionLineText(m_offer, english));
}

void UpdateDialog::StopRunningClient()
{
    Platform& platform = Platform::current();
    const QString& appName = g_global.m_appName;
    if (LaunchRules::isClientRunning(platform.queryProcesses(appName), appName))
        platform.killProcesses(appName);
}
