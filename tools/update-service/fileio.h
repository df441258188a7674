#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QString>

namespace updateservice {

Outcome writeWholeFile(const QString& path, const QByteArray& content);

} // namespace updateservice
