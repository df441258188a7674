#pragma once

#include <QByteArray>
#include <QString>

namespace updateservice {

// Stores message for the caller, if it asked for one, and returns false, so a failing step
// reads `return fail(error, ...)`.
bool fail(QString* error, const QString& message);

bool writeWholeFile(const QString& path, const QByteArray& content, QString* error);

} // namespace updateservice
