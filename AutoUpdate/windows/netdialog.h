#pragma once

#include <QDialog>

namespace Ui {
class NetDialog;
}

// The panel that asks the user to confirm the cancellation of the update. It lives in the progress
// dialog's dock and only reports the answer; the progress dialog acts on it.
class NetDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NetDialog(QWidget* parent = nullptr);
    ~NetDialog() override;

    void reject() override;

signals:
    void cancleSignal();
    void sureSignal();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Ui::NetDialog* ui;
};
