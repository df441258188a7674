#pragma once

#include "base/result.h"
#include "release/releaseoffer.h"
#include "release/releasesignature.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The check: the service's answer in, the release it offers (or why there is none) out. It asks
// nothing of the user and touches no window.
namespace UpdateCheck {

// An answer longer than this is no answer of the service's: the check fails.
constexpr qint64 kMaxAnswerBytes = 1 << 20;

// What the answer is judged against: the installed client and the keys its updater trusts.
struct Installed
{
    QString version;
    ReleaseSignature::TrustedKeys keys;
};

// The body of the check request for the installed version.
QByteArray requestBody(const QString& installedVersion);

// The release the answer offers, read once and verified once: a failure when the answer is no
// JSON, names another code than "000000", offers the installed version, or fails the signature
// check. Every failure is logged; the reason says which.
Result<ReleaseOffer> offerIn(const QByteArray& answer, const Installed& installed);

// The user's earlier choice and this run's switches, as the check weighs them.
struct Reminders
{
    bool neverRemind = false;
    QString neverRemindVersion;
    QStringList arguments;
};

// Whether the user is to be asked about the offer.
bool isWanted(const ReleaseOffer& offer, const Reminders& reminders);

} // namespace UpdateCheck
