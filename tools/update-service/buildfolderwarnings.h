#pragma once

#include <QString>
#include <QStringList>

namespace updateservice {

// An updater's configuration in the build folder travels with the release. Clients keep their
// own "appPath" when they install it, but a new installation made from the build folder would
// look for its client where the build machine had it: one warning per such configuration.
QStringList absoluteAppPaths(const QString& buildPath);

} // namespace updateservice
