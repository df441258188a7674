#include "install/diffstream.h"

#include <limits>
#include <utility>

namespace {

constexpr int kBlockSize = 64 * 1024;
constexpr int kNumberBits = 64;

void appendNumber(QByteArray& stream, quint64 value)
{
    while (value >= 0x80) {
        stream.append(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    stream.append(static_cast<char>(value));
}

quint64 zigzag(qint64 value)
{
    return value < 0 ? ~(static_cast<quint64>(value) << 1) : static_cast<quint64>(value) << 1;
}

qint64 unzigzag(quint64 value)
{
    return (value & 1) ? -static_cast<qint64>(value >> 1) - 1 : static_cast<qint64>(value >> 1);
}

} // namespace

DiffStream::DiffStream(const uchar* oldFile, qint64 oldSize, Sink sink)
    : m_old(oldFile), m_oldSize(oldSize), m_sink(std::move(sink))
{}

void DiffStream::appendRecordHead(QByteArray& stream, qint64 addBytes, qint64 insertBytes,
                                  qint64 move)
{
    appendNumber(stream, static_cast<quint64>(addBytes));
    appendNumber(stream, static_cast<quint64>(insertBytes));
    appendNumber(stream, zigzag(move));
}

Outcome DiffStream::feed(const char* data, qint64 size)
{
    while (size > 0) {
        qint64 taken = 1;
        Outcome step = Outcome::success();
        switch (m_state) {
        case State::Head:
            step = takeHeadByte(static_cast<uchar>(*data));
            break;
        case State::Add:
            taken = qMin(size, m_remaining);
            step = add(data, taken);
            break;
        case State::Insert:
            taken = qMin(size, m_remaining);
            step = m_sink(data, taken);
            m_remaining -= taken;
            if (step && m_remaining == 0)
                step = endRecord();
            break;
        }
        if (!step)
            return step;
        data += taken;
        size -= taken;
    }
    return Outcome::success();
}

Outcome DiffStream::finish() const
{
    if (m_state != State::Head || m_complete != 0 || m_shift != 0)
        return Outcome::failure(QStringLiteral("the diff ends inside a record"));
    return Outcome::success();
}

Outcome DiffStream::takeHeadByte(uchar byte)
{
    if (m_shift >= kNumberBits || (m_shift == kNumberBits - 1 && (byte & 0x7e)))
        return Outcome::failure(QStringLiteral("the diff holds a number beyond 64 bits"));
    m_numbers[m_complete] |= static_cast<quint64>(byte & 0x7f) << m_shift;
    if (byte & 0x80) {
        m_shift += 7;
        return Outcome::success();
    }
    m_shift = 0;
    return ++m_complete == 3 ? startRecord() : Outcome::success();
}

Outcome DiffStream::startRecord()
{
    const quint64 addBytes = m_numbers[0];
    if (addBytes > static_cast<quint64>(m_oldSize - m_position))
        return Outcome::failure(QStringLiteral("the diff adds to bytes past the old file's end"));
    if (m_numbers[1] > static_cast<quint64>(std::numeric_limits<qint64>::max()))
        return Outcome::failure(QStringLiteral("the diff inserts more than a file can hold"));
    m_remaining = static_cast<qint64>(addBytes);
    m_state = State::Add;
    return m_remaining == 0 ? add(nullptr, 0) : Outcome::success();
}

// Each byte is the old file's at the position plus the stream's, modulo 256.
Outcome DiffStream::add(const char* data, qint64 size)
{
    m_block.resize(kBlockSize);
    char* block = m_block.data();
    for (qint64 done = 0; done < size;) {
        const qint64 chunk = qMin<qint64>(size - done, kBlockSize);
        const uchar* old = m_old + m_position + done;
        const char* added = data + done;
        for (qint64 i = 0; i < chunk; ++i)
            block[i] = static_cast<char>(old[i] + static_cast<uchar>(added[i]));
        const Outcome written = m_sink(block, chunk);
        if (!written)
            return written;
        done += chunk;
    }
    m_position += size;
    m_remaining -= size;
    if (m_remaining > 0)
        return Outcome::success();
    m_remaining = static_cast<qint64>(m_numbers[1]);
    m_state = State::Insert;
    return m_remaining == 0 ? endRecord() : Outcome::success();
}

Outcome DiffStream::endRecord()
{
    const qint64 move = unzigzag(m_numbers[2]);
    // Compared so that no sum can overflow: the position stays within the old file.
    if ((move < 0 && -(move + 1) >= m_position) || (move > 0 && move > m_oldSize - m_position))
        return Outcome::failure(QStringLiteral("the diff moves outside the old file"));
    m_position += move;
    m_numbers[0] = m_numbers[1] = m_numbers[2] = 0;
    m_complete = 0;
    m_state = State::Head;
    return Outcome::success();
}
