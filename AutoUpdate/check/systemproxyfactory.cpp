#include "check/systemproxyfactory.h"

#include <QHostAddress>
#include <mutex>

QList<QNetworkProxy> SystemProxyFactory::queryProxy(const QNetworkProxyQuery& query)
{
    if (isLocalHost(query.peerHostName()))
        return {QNetworkProxy(QNetworkProxy::NoProxy)};
    return systemProxyForQuery(query);
}

void SystemProxyFactory::install()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        QNetworkProxyFactory::setApplicationProxyFactory(new SystemProxyFactory);
    });
}

bool SystemProxyFactory::isLocalHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}
