#include "check/launchrules.h"

namespace {
const QString kNoRemind = QStringLiteral("-noremid");
const QString kImmediately = QStringLiteral("-immediately");
const QString kMeetingScheme = QStringLiteral("pord-meeting");
const QString kSchemeSeparator = QStringLiteral("://");
} // namespace

int LaunchRules::indexOfMeetingLink(const QStringList& arguments)
{
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i).contains(kMeetingScheme))
            return i;
    }
    return -1;
}

QString LaunchRules::meetingUrlArgument(const QString& link)
{
    const QStringList pieces = link.split(kSchemeSeparator);
    const QString address = pieces.size() > 1 ? pieces.at(1) : link;
    return QStringLiteral("--url=") + address;
}

bool LaunchRules::isClientRunning(const QString& processListing, const QString& appName)
{
    return processListing.contains(appName);
}

bool LaunchRules::asksForCheckAnyway(const QStringList& arguments)
{
    return arguments.contains(kNoRemind) || arguments.contains(kImmediately);
}

bool LaunchRules::skipsPrompt(const QStringList& arguments)
{
    return arguments.contains(kImmediately);
}

bool LaunchRules::hidesNeverRemind(const QStringList& arguments)
{
    return arguments.contains(kNoRemind);
}

QStringList LaunchRules::withoutUpdaterSwitches(QStringList arguments)
{
    arguments.removeOne(kNoRemind);
    arguments.removeOne(kImmediately);
    return arguments;
}

QStringList LaunchRules::clientArguments(QStringList arguments)
{
    arguments = withoutUpdaterSwitches(arguments);
    const int link = indexOfMeetingLink(arguments);
    if (link >= 0)
        arguments.append(meetingUrlArgument(arguments.takeAt(link)));
    if (arguments.isEmpty())
        arguments.append(QStringLiteral("-autoupdate"));
    return arguments;
}
