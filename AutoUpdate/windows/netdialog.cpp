#include "windows/netdialog.h"
#include "ui_netdialog.h"

#include "global.h"
#include "windows/dialogcommon.h"

#include <QCloseEvent>

NetDialog::NetDialog(QWidget* parent) : QDialog(parent), ui(new Ui::NetDialog)
{
    LoadDialogImages();
    ui->setupUi(this);
    // The style sheet picks the panel by this name.
    setObjectName(QStringLiteral("NetDialog"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    connect(ui->cbtn, &QPushButton::clicked, this, &NetDialog::cancleSignal);
    connect(ui->sbtn, &QPushButton::clicked, this, &NetDialog::sureSignal);
    if (IsEnglish()) {
        ui->lab->setText(QStringLiteral("Update Cancel?"));
        ui->cbtn->setText(QStringLiteral("Cancel"));
        ui->sbtn->setText(QStringLiteral("OK"));
    }
}

NetDialog::~NetDialog()
{
    delete ui;
}

// Escape rejects a dialog, which would hide the panel alone and leave its dock empty; it declines,
// as the panel's cancel button does.
void NetDialog::reject()
{
    emit cancleSignal();
}

// Whatever closes the panel itself ends the update, as confirming does; once installing has begun
// the panel stays.
void NetDialog::closeEvent(QCloseEvent* event)
{
    if (!g_global.m_runEnd.Cancel())
        event->ignore();
}
