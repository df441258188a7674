#include "windows/dialogcommon.h"

#include "global.h"
#include "release/releaseoffer.h"

#include <QDialog>
#include <QIcon>

bool IsEnglish()
{
    return g_global.m_language == QLatin1String("en");
}

QString MebibyteText(qint64 bytes)
{
    constexpr double kPerKibibyte = 1.0 / 1024;
    return QString::number(static_cast<double>(bytes) * kPerKibibyte * kPerKibibyte, 'f', 2);
}

QString PackageSizeText(qint64 bytes, bool english)
{
    const QString text =
        english ? QStringLiteral("  Update Package %1M") : QStringLiteral("  更新包 %1M");
    return text.arg(MebibyteText(bytes));
}

QString VersionLineText(const ReleaseOffer& offer, bool english)
{
    const QString prefix = english ? QStringLiteral("Version V") : QStringLiteral("版本号V");
    return prefix + offer.version + PackageSizeText(offer.packageSize, english);
}

QString AppUpdateTitle()
{
    return QStringLiteral("App Update");
}

void SetUpUpdateWindow(QDialog* window)
{
    window->setWindowFlags(Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    window->setWindowIcon(QIcon(QStringLiteral(":/image/resourceimg/logo.ico")));
    window->setFixedSize(window->size());
}

void LoadDialogImages()
{
    Q_INIT_RESOURCE(resources);
}
