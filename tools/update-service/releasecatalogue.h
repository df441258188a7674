#pragma once

#include "base/result.h"
#include "release.h"

#include <QString>
#include <QVector>

namespace updateservice {

class UpdateService;

// The releases of one folder, as the serve command offers them.
class ReleaseCatalogue
{
public:
    // Fails when the folder cannot be read, holds a broken release description, or holds no
    // release at all.
    static Result<ReleaseCatalogue> load(const QString& releasesDir);

    const QVector<Release>& releases() const { return m_releases; } // oldest first
    const Release& newest() const { return m_releases.last(); }

    // Makes service offer the newest release to every check, with "update" "0" for clients
    // that already run it, and serve every release's package under its id, so downloads begun
    // before a newer publication still work.
    Outcome serveWith(UpdateService& service) const;

private:
    explicit ReleaseCatalogue(QVector<Release> releases) : m_releases(std::move(releases)) {}

    QVector<Release> m_releases;
};

} // namespace updateservice
