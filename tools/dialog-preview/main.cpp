// Shows one window of the updater in a named state and prints "shown" once it has been painted,
// so that a screenshot can be taken; it stays until it is ended.
//
// Usage: dialog-preview <state> [en|zh]
// States: prompt-normal, prompt-ticked, prompt-forced, progress, error, confirm, installing.

#include "global.h"
#include "windows/dwondialog.h"
#include "windows/updatedialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {
constexpr int kPaintDelayMs = 500;

const QString kNotes = QStringLiteral(
    "<p>1. Meetings open faster from a link.</p><p>2. Screen sharing keeps the window order.</p>"
    "<p>3. 修复了若干已知问题，提升了稳定性。</p>");

void FillUpdateRecord(const QString& language)
{
    g_global.m_language = language;
    g_global.m_appName = QStringLiteral("quorvex");
}

ReleaseOffer Offer(const QString& mode)
{
    ReleaseOffer offer;
    offer.updateMode = mode;
    offer.version = QStringLiteral("2.3.1008");
    offer.packageSize = 36996000;
    offer.notes = kNotes;
    return offer;
}

std::unique_ptr<QWidget> Prompt(const QString& mode, bool ticked = false)
{
    auto prompt = std::make_unique<UpdateDialog>();
    prompt->updateMode(Offer(mode));
    prompt->findChild<QCheckBox*>(QStringLiteral("checkRemid"))->setChecked(ticked);
    return prompt;
}

std::unique_ptr<QWidget> Progress(const std::function<void(DwonDialog&)>& toState)
{
    auto progress = std::make_unique<DwonDialog>();
    progress->InitUpdateInfo(Offer(QStringLiteral("1")));
    toState(*progress);
    progress->show();
    return progress;
}

std::unique_ptr<QWidget> ShowState(const QString& state, bool english)
{
    if (state == QLatin1String("prompt-normal"))
        return Prompt(QStringLiteral("1"));
    if (state == QLatin1String("prompt-ticked"))
        return Prompt(QStringLiteral("1"), true);
    if (state == QLatin1String("prompt-forced"))
        return Prompt(QStringLiteral("2"));
    if (state == QLatin1String("progress"))
        return Progress([](DwonDialog& d) { d.UpdateProgressBar(23678400, 36996000); });
    if (state == QLatin1String("error")) {
        const QString message = english ? QStringLiteral("Disk out of space on C, update failed.")
                                        : QStringLiteral("C 磁盘空间不足，更新失败!");
        return Progress([&message](DwonDialog& d) {
            d.UpdateProgressBar(23678400, 36996000);
            d.UpdateErrorState(message);
        });
    }
    if (state == QLatin1String("confirm")) {
        return Progress([](DwonDialog& d) {
            d.UpdateProgressBar(11098800, 36996000);
            d.CancleDownload();
        });
    }
    if (state == QLatin1String("installing")) {
        return Progress([](DwonDialog& d) {
            d.UpdateProgressBar(36996000, 36996000);
            d.UpdateInstallState();
        });
    }
    return nullptr;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QFont font;
    font.setFamily(QStringLiteral("微软雅黑"));
    QApplication::setFont(font);

    const QStringList args = QCoreApplication::arguments();
    const QString language = args.value(2, QStringLiteral("zh"));
    FillUpdateRecord(language);
    const std::unique_ptr<QWidget> window = ShowState(args.value(1), language == "en");
    if (!window) {
        QTextStream(stderr)
            << "usage: dialog-preview "
               "prompt-normal|prompt-ticked|prompt-forced|progress|error|confirm|installing "
               "[en|zh]\n";
        return 2;
    }
    window->move(40, 40);
    QTimer::singleShot(kPaintDelayMs, [] {
        std::puts("shown");
        std::fflush(stdout);
    });
    return app.exec();
}
