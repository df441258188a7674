#include "filediff.h"

#include "install/diffstream.h"
#include "zstdframe.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

#include <divsufsort.h>
namespace updateservice {

namespace {

// A match must win over the old stretch the last one continues by this many bytes before the
// diff moves to it: a move costs a record.
constexpr qint64 kMoveGain = 8;

class DiffMaker
{
public:
    DiffMaker(const uchar* oldData, qint64 oldSize, const uchar* newData, qint64 newSize)
        : m_old(oldData), m_oldSize(oldSize), m_new(newData), m_newSize(newSize)
    {}

    Result<QByteArray> run()
    {
        m_suffixes.resize(static_cast<size_t>(m_oldSize));
        if (divsufsort(m_old, m_suffixes.data(), static_cast<saidx_t>(m_oldSize)) != 0)
            return Result<QByteArray>::failure(QStringLiteral("no memory to sort the old file"));
        qint64 scan = 0;
        qint64 length = 0;
        qint64 position = 0;
        while (scan < m_newSize) {
            qint64 agreeing = 0;
            for (qint64 counted = scan += length; scan < m_newSize; ++scan) {
                length = longestMatch(scan, position);
                for (; counted < scan + length; ++counted)
                    agreeing += continuesAgreeing(counted);
                if ((length == agreeing && length != 0) || length > agreeing + kMoveGain)
                    break;
                agreeing -= continuesAgreeing(scan);
            }
            if (length != agreeing || scan == m_newSize)
                addRecord(scan, position);
        }
        return m_stream;
    }

private:
    // Whether the byte at the new file's offset is the one the last match continues to.
    qint64 continuesAgreeing(qint64 offset) const
    {
        const qint64 old = offset + m_lastOffset;
        return old >= 0 && old < m_oldSize && m_old[old] == m_new[offset] ? 1 : 0;
    }

    qint64 matchLength(qint64 oldAt, qint64 newAt) const
    {
        qint64 n = 0;
        while (oldAt + n < m_oldSize && newAt + n < m_newSize &&
               m_old[oldAt + n] == m_new[newAt + n])
            ++n;
        return n;
    }

    // The longest stretch of the old file that the new one continues at newAt, by a binary
    // search of the sorted suffixes.
    qint64 longestMatch(qint64 newAt, qint64& position) const
    {
        qint64 low = 0;
        qint64 high = m_oldSize - 1;
        while (high - low > 1) {
            const qint64 middle = low + (high - low) / 2;
            const qint64 suffix = m_suffixes[static_cast<size_t>(middle)];
            const size_t compared =
                static_cast<size_t>(std::min(m_oldSize - suffix, m_newSize - newAt));
            if (std::memcmp(m_old + suffix, m_new + newAt, compared) < 0)
                low = middle;
            else
                high = middle;
        }
        const qint64 lowLength = matchLength(m_suffixes[static_cast<size_t>(low)], newAt);
        const qint64 highLength = matchLength(m_suffixes[static_cast<size_t>(high)], newAt);
        position = m_suffixes[static_cast<size_t>(lowLength >= highLength ? low : high)];
        return std::max(lowLength, highLength);
    }

    // The stretch from the last match up to the next one at scan (old position): the last match
    // extended forwards and the next backwards while more bytes agree than not, the rest inserted.
    void addRecord(qint64 scan, qint64 position)
    {
        qint64 forwards = 0;
        for (qint64 i = 0, agree = 0, best = 0;
             m_lastScan + i < scan && m_lastPosition + i < m_oldSize;) {
            agree += m_old[m_lastPosition + i] == m_new[m_lastScan + i];
            ++i;
            if (agree * 2 - i > best * 2 - forwards) {
                best = agree;
                forwards = i;
            }
        }
        qint64 backwards = 0;
        if (scan < m_newSize) {
            for (qint64 i = 1, agree = 0, best = 0; scan >= m_lastScan + i && position >= i; ++i) {
                agree += m_old[position - i] == m_new[scan - i];
                if (agree * 2 - i > best * 2 - backwards) {
                    best = agree;
                    backwards = i;
                }
            }
        }
        const qint64 overlap = m_lastScan + forwards - (scan - backwards);
        if (overlap > 0) {
            // The split where the two extensions meet that keeps the most agreeing bytes.
            qint64 balance = 0;
            qint64 best = 0;
            qint64 split = 0;
            for (qint64 i = 0; i < overlap; ++i) {
                balance += m_new[m_lastScan + forwards - overlap + i] ==
                           m_old[m_lastPosition + forwards - overlap + i];
                balance -= m_new[scan - backwards + i] == m_old[position - backwards + i];
                if (balance > best) {
                    best = balance;
                    split = i + 1;
                }
            }
            forwards += split - overlap;
            backwards -= split;
        }
        const qint64 inserted = scan - backwards - (m_lastScan + forwards);
        const qint64 move = position - backwards - (m_lastPosition + forwards);
        DiffStream::appendRecordHead(m_stream, forwards, inserted, move);
        for (qint64 i = 0; i < forwards; ++i)
            m_stream.append(static_cast<char>(m_new[m_lastScan + i] - m_old[m_lastPosition + i]));
        m_stream.append(reinterpret_cast<const char*>(m_new + m_lastScan + forwards),
                        static_cast<int>(inserted));
        m_lastScan = scan - backwards;
        m_lastPosition = position - backwards;
        m_lastOffset = position - scan;
    }

    const uchar* m_old;
    qint64 m_oldSize;
    const uchar* m_new;
    qint64 m_newSize;
    std::vector<saidx_t> m_suffixes;
    QByteArray m_stream;
    qint64 m_lastScan = 0;
    qint64 m_lastPosition = 0;
    qint64 m_lastOffset = 0;
};

} // namespace

Result<std::vector<char>> diffOf(const uchar* oldData, qint64 oldSize, const uchar* newData,
                                 qint64 newSize)
{
    using R = Result<std::vector<char>>;
    if (oldSize <= 0 || oldSize > kMaxDiffedFileSize || newSize > kMaxDiffedFileSize)
        return R::failure(QStringLiteral("no diff against %1 bytes").arg(oldSize));
    const Result<QByteArray> stream = DiffMaker(oldData, oldSize, newData, newSize).run();
    if (!stream)
        return R::failure(stream.error());
    return zstdFrame(reinterpret_cast<const uchar*>(stream->constData()), stream->size());
}

} // namespace updateservice
