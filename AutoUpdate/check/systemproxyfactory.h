#pragma once

#include <QNetworkProxyFactory>

// The system's proxy settings, as the user's browser has them, except that a local address is
// always reached directly.
class SystemProxyFactory : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override;

    // Makes this the application's proxy factory; later calls change nothing.
    static void install();
    static bool isLocalHost(const QString& host);
};
