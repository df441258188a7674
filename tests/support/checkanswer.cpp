#include "checkanswer.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

CheckAnswer& CheckAnswer::forPackage(const QByteArray& package)
{
    md5 = QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex());
    packageSize = package.size();
    return *this;
}

QByteArray CheckAnswer::toJson() const
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
    return QJsonDocument(QJsonObject{{"code", code}, {"desc", QString()}, {"biz", biz}}).toJson();
}
