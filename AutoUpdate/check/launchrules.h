#pragma once

#include <QString>
#include <QStringList>

// How the updater's command line turns into decisions and into the client's command line.
// Switches are whole, case-sensitive arguments.
namespace LaunchRules {

// Index of the first argument holding a meeting link for the client, or -1.
int indexOfMeetingLink(const QStringList& arguments);
// "--url=" followed by the link's text between its first "://" and the next one. A link without
// "://" is handed over whole rather than as an empty address.
QString meetingUrlArgument(const QString& link);
// The client runs when the process listing names it anywhere (case-sensitive).
bool isClientRunning(const QString& processListing, const QString& appName);
// "-noremid" or "-immediately": check for an update even while the client runs, and offer a
// version for which reminders are off.
bool asksForCheckAnyway(const QStringList& arguments);
// "-immediately": update at once, without the prompt.
bool skipsPrompt(const QStringList& arguments);
// "-noremid": the prompt offers no "never remind" choice.
bool hidesNeverRemind(const QStringList& arguments);
// The updater's own switches leave the list once each; a second copy goes on to the client.
QStringList withoutUpdaterSwitches(QStringList arguments);
// What the client is started with when the updater hands over to it: its switches removed, the
// meeting link rewritten and moved to the end, and "-autoupdate" when nothing else remains.
QStringList clientArguments(QStringList arguments);

} // namespace LaunchRules
