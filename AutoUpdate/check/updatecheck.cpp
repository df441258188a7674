#include "check/updatecheck.h"

#include "check/launchrules.h"
#include "release/answerfields.h"
#include "release/installedsequence.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

// The log keeps the start of an answer; a service that sends megabytes does not fill it.
constexpr int kLoggedAnswerBytes = 4096;

Result<QJsonObject> parseAnswer(const QByteArray& answer)
{
    qInfo() << "Service Jsondata:" << QString::fromUtf8(answer.left(kLoggedAnswerBytes));
    QJsonParseError parseError{};
    const QJsonObject object = QJsonDocument::fromJson(answer, &parseError).object();
    if (parseError.error != QJsonParseError::NoError) {
        qDebug() << " Recv Services Jsondata Error:" << static_cast<int>(parseError.error);
        return Result<QJsonObject>::failure(QStringLiteral("the answer is no JSON"));
    }
    const QString code = object.value(QStringLiteral("code")).toString();
    if (code != QLatin1String("000000")) {
        qDebug() << "Services Jsondata Code Error:" << code;
        return Result<QJsonObject>::failure(QStringLiteral("the answer's code is ") + code);
    }
    return object.value(QStringLiteral("biz")).toObject();
}

Result<ReleaseOffer> verified(const ReleaseOffer& offer, const ReleaseSignature::TrustedKeys& keys)
{
    // Without keys nothing is verified, so the record of installed releases is not read.
    const qint64 installed = keys.required ? InstalledSequence::read() : 0;
    const Result<qint64> verdict = ReleaseSignature::verify(offer, keys, installed);
    if (!verdict) {
        qWarning().noquote() << "release signature refused:" << verdict.error();
        return Result<ReleaseOffer>::failure(verdict.error());
    }
    return offer;
}

} // namespace

QByteArray UpdateCheck::requestBody(const QString& installedVersion)
{
    // QJsonObject keeps its keys sorted, which is also the order the service expects.
    const QJsonObject body{{QStringLiteral("clientVersion"), installedVersion},
                           {QStringLiteral("deviceType"), QStringLiteral("Windows")},
                           {QStringLiteral("platform"), 6}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

Result<ReleaseOffer> UpdateCheck::offerIn(const QByteArray& answer, const Installed& installed)
{
    const Result<QJsonObject> biz = parseAnswer(answer);
    if (!biz)
        return Result<ReleaseOffer>::failure(biz.error());
    const ReleaseOffer offer = AnswerFields::fromBiz(biz.value());
    if (offer.version == installed.version)
        return Result<ReleaseOffer>::failure(QStringLiteral("the installed version is offered"));
    return verified(offer, installed.keys);
}

bool UpdateCheck::isWanted(const ReleaseOffer& offer, const Reminders& reminders)
{
    const bool remindersOff = reminders.neverRemind &&
                              offer.version == reminders.neverRemindVersion &&
                              !LaunchRules::asksForCheckAnyway(reminders.arguments);
    return !remindersOff && !offer.offersNothing();
}
