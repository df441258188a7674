#include "packagetransfer.h"

#include <httplib.h>

#include <algorithm>

namespace updateservice {

PackageTransfer::PackageTransfer(Package package, QString requestLine)
    : m_package(std::move(package)), m_read(m_package.open()), m_requestLine(std::move(requestLine))
{}

bool PackageTransfer::sendPiece(quint64 offset, httplib::DataSink& sink)
{
    QByteArray piece;
    m_cut = !m_read(offset, piece) || piece.isEmpty();
    piece.truncate(static_cast<int>(std::min<quint64>(piece.size(), m_package.size - offset)));
    m_cut = m_cut || !sink.write(piece.constData(), piece.size());
    if (!m_cut) {
        m_sent = offset + piece.size();
    }
    return !m_cut;
}

QString PackageTransfer::outcome() const
{
    return QStringLiteral("200, %1 of %2 bytes sent%3")
        .arg(m_sent)
        .arg(m_package.size)
        .arg(m_cut ? QStringLiteral(", cut short") : QString());
}

} // namespace updateservice
