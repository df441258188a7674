#pragma once

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

// The update service's answer to a check: "biz" offers a zip package of 2.1.0 until a test
// changes it. Without a signature a release has no "sha256", so only tests that want one add it.
struct CheckAnswer
{
    QJsonObject biz = QJsonDocument::fromJson(R"({
        "id": "77", "update": "1", "latestVersion": "2.1.0",
        "latestVersionUrl": "https://cdn.invalid/r/QuorvexClient_2.1.0.zip",
        "latestVersionInfo": "中文说明&English notes", "md5": "", "sha1": "",
        "packageSize": 1048576, "updateType": 1})")
                          .object();

    // Announces this package: its digest and size.
    CheckAnswer& forPackage(const QByteArray& package)
    {
        biz["md5"] = QString(QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex());
        biz["packageSize"] = package.size();
        return *this;
    }

    QByteArray toJson() const
    {
        return QJsonDocument(QJsonObject{{"code", "000000"}, {"desc", ""}, {"biz", biz}}).toJson();
    }
    std::string toStdString() const { return toJson().toStdString(); }
};
