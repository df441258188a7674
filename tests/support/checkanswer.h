#pragma once

#include "release/answerfields.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

// The update service's answer to a check: it offers a zip package of 2.1.0 until a test changes
// the offer. Without a signature a release has no "sha256", so only tests that want one add it.
struct CheckAnswer
{
    ReleaseOffer offer = [] {
        ReleaseOffer offer;
        offer.id = "77";
        offer.updateMode = "1";
        offer.version = "2.1.0";
        offer.url = "https://cdn.invalid/r/QuorvexClient_2.1.0.zip";
        offer.notes = "中文说明&English notes";
        offer.packageSize = 1048576;
        offer.updateType = 1;
        return offer;
    }();

    // Announces this package: its digest and size.
    CheckAnswer& forPackage(const QByteArray& package)
    {
        offer.md5 = QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex();
        offer.packageSize = package.size();
        return *this;
    }

    QByteArray toJson() const
    {
        const QJsonObject answer{
            {"code", "000000"}, {"desc", ""}, {"biz", AnswerFields::toBiz(offer)}};
        return QJsonDocument(answer).toJson();
    }
    std::string toStdString() const { return toJson().toStdString(); }
};
