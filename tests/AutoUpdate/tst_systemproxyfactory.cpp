#include "systemproxyfactory.h"

#include <QTest>

class TestSystemProxyFactory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("http_proxy", "http://proxy.invalid:3128"); }

    void choosesProxy_data();
    void choosesProxy();
};

void TestSystemProxyFactory::choosesProxy_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("proxied");
    QTest::newRow("remote service") << "http://updates.example.com/check" << true;
    QTest::newRow("loopback address") << "http://127.0.0.1:8080/check" << false;
    QTest::newRow("other loopback address") << "http://127.8.0.1/check" << false;
    QTest::newRow("IPv6 loopback") << "http://[::1]:8080/check" << false;
    QTest::newRow("localhost") << "http://LOCALHOST:8080/check" << false;
    QTest::newRow("name under localhost") << "http://updates.localhost/check" << false;
}

void TestSystemProxyFactory::choosesProxy()
{
    QFETCH(QString, url);
    QFETCH(bool, proxied);
    SystemProxyFactory factory;
    const QNetworkProxy proxy = factory.queryProxy(QNetworkProxyQuery(QUrl(url))).value(0);
    QCOMPARE(proxy.type() == QNetworkProxy::HttpProxy, proxied);
    QCOMPARE(proxy.hostName(), proxied ? QStringLiteral("proxy.invalid") : QString());
}

QTEST_GUILESS_MAIN(TestSystemProxyFactory)
#include "tst_systemproxyfactory.moc"
