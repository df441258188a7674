#include "staticsite.h"

#include "fileio.h"
#include "steps.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

namespace updateservice {

namespace {

// Paths are relative to the prefix given with -p. Every temporary path is set because nginx
// creates them all at start-up and the compiled-in ones need root.
const char kNginxConfiguration[] =
    R"(# Serves one release to the updater without the update-service program:
#   nginx -p <this folder> -c nginx.conf -e logs/error.log
# The updater's configuration then names http://<host>:8080/check as its "updateCheckUrl"
# and http://<host>:8080/pack/ as its "updatePackageUrl".
worker_processes 1;
pid logs/nginx.pid;
error_log logs/error.log;

events {
    worker_connections 256;
}

http {
    access_log logs/access.log;
    client_body_temp_path tmp/body;
    proxy_temp_path tmp/proxy;
    fastcgi_temp_path tmp/fastcgi;
    uwsgi_temp_path tmp/uwsgi;
    scgi_temp_path tmp/scgi;

    server {
        listen 8080;
        root www;

        location = /check {
            types { }
            default_type "application/json;charset=UTF-8";
            # The updater asks with POST, which static files answer with 405; this turns
            # that into the file itself.
            error_page 405 =200 $uri;
        }

        location /pack/ {
            types { }
            default_type application/octet-stream;
        }
    }
}
)";

// A hard link costs no space; file systems without them get a copy.
Outcome linkOrCopy(const QString& source, const QString& target)
{
    const std::filesystem::path from(QFile::encodeName(source).toStdString());
    const std::filesystem::path to(QFile::encodeName(target).toStdString());
    std::error_code failure;
    std::filesystem::create_hard_link(from, to, failure);
    if (failure) {
        failure.clear();
        std::filesystem::copy_file(from, to, failure);
    }
    if (failure) {
        return Outcome::failure(QStringLiteral("cannot place the package at %1: %2")
                                    .arg(target, QString::fromStdString(failure.message())));
    }
    return Outcome::success();
}

Outcome makeFolders(const QDir& site)
{
    for (const char* folder : {"www/pack", "logs", "tmp"}) {
        if (!site.mkpath(QString::fromLatin1(folder))) {
            return Outcome::failure(QStringLiteral("cannot create %1").arg(site.filePath(folder)));
        }
    }
    return Outcome::success();
}

// The deltas and their plans lie beside the package, under the names the answer gives.
Outcome linkDeltas(const Release& release, const QDir& site)
{
    for (const DeltaOffer& delta : release.offer.deltas) {
        for (const QString& name : {delta.url, delta.planUrl}) {
            const Outcome linked =
                linkOrCopy(QDir(release.folder).filePath(name), site.filePath("www/pack/" + name));
            if (!linked)
                return linked;
        }
    }
    return Outcome::success();
}

} // namespace

Outcome writeStaticSite(const Release& release)
{
    const QDir site(QDir(release.folder).filePath(kStaticSiteFolder));
    return inTurn(
        [&] { return makeFolders(site); },
        [&] { return writeWholeFile(site.filePath("nginx.conf"), kNginxConfiguration); },
        [&] { return writeWholeFile(site.filePath("www/check"), checkAnswer(release, QString())); },
        [&] {
            return linkOrCopy(release.packageFilePath(), site.filePath("www/pack/" + release.id()));
        },
        [&] { return linkDeltas(release, site); });
}

} // namespace updateservice
