#pragma once

#include "updateservice.h"

#include <QString>

namespace httplib {
class DataSink;
} // namespace httplib

namespace updateservice {

// One package response in progress, shared by its content provider and its logger.
class PackageTransfer
{
public:
    // Opens package for this response alone.
    PackageTransfer(Package package, QString requestLine);

    quint64 size() const { return m_package.size; }
    const QString& requestLine() const { return m_requestLine; }
    // Writes the package's bytes from offset on to sink. False ends the response by closing its
    // connection.
    bool sendPiece(quint64 offset, httplib::DataSink& sink);
    // How the response went, for the log: the bytes sent, and whether it was cut short.
    QString outcome() const;

private:
    Package m_package;
    PieceReader m_read;
    QString m_requestLine;
    quint64 m_sent = 0;
    bool m_cut = false;
};

} // namespace updateservice
