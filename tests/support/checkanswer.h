#ifndef CHECKANSWER_H
#define CHECKANSWER_H

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

// The update service's answer to a check, as the tests script it.
struct CheckAnswer
{
    QString code = QStringLiteral("000000");
    QString id = QStringLiteral("77");
    QString update = QStringLiteral("1");
    QString latestVersion = QStringLiteral("2.1.0");
    QString latestVersionUrl = QStringLiteral("https://cdn.invalid/r/QuorvexClient_2.1.0.zip");
    QString notes = QStringLiteral("中文说明&English notes");
    QString md5;
    // Sent only when set, as releases without a signature leave it out.
    QString sha256;
    qint64 packageSize = 1048576;
    int updateType = 1;

    // Announces this package: its digest and size.
    CheckAnswer& forPackage(const QByteArray& package)
    {
        md5 = QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex();
        packageSize = package.size();
        return *this;
    }

    QByteArray toJson() const
    {
        QJsonObject biz{{"id", id},
                        {"update", update},
                        {"latestVersion", latestVersion},
                        {"latestVersionUrl", latestVersionUrl},
                        {"latestVersionInfo", notes},
                        {"md5", md5},
                        {"sha1", QString()},
                        {"packageSize", packageSize},
                        {"updateType", updateType}};
        if (!sha256.isEmpty())
            biz.insert("sha256", sha256);
        return QJsonDocument(QJsonObject{{"code", code}, {"desc", QString()}, {"biz", biz}})
            .toJson();
    }
    std::string toStdString() const { return toJson().toStdString(); }
};

#endif // CHECKANSWER_H
