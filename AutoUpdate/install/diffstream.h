#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QtGlobal>

#include <functional>

// The content of a patch of kind "diff": a run of records that turn an old file into a new one.
// Each record is three LEB128 numbers, the bytes to add, the bytes to insert and how far to move
// in the old file afterwards (zigzag-coded, as it may go back), followed by the bytes to add, each
// added to the old file's byte at the current position, and then the bytes to insert as they
// are. Between two builds of a program most code stays and the addresses in it shift a little:
// the added bytes are mostly zeros, so the stream compresses far better than the new file does
// against the old one. The stream is read as hostile input.
class DiffStream
{
public:
    // Receives the new file's bytes in order.
    using Sink = std::function<Outcome(const char* data, qint64 size)>;

    DiffStream(const uchar* oldFile, qint64 oldSize, Sink sink);

    // Takes the next bytes of the stream. Refuses a record that would read outside the old file
    // and a number longer than 64 bits; the sink decides how much output it takes.
    Outcome feed(const char* data, qint64 size);
    // The stream must end between two records.
    Outcome finish() const;

    // Appends a record's three numbers to a stream being made; its bytes to add and to insert
    // follow them.
    static void appendRecordHead(QByteArray& stream, qint64 addBytes, qint64 insertBytes,
                                 qint64 move);

private:
    enum class State { Head, Add, Insert };

    Outcome takeHeadByte(uchar byte);
    Outcome startRecord();
    Outcome add(const char* data, qint64 size);
    Outcome endRecord();

    const uchar* m_old;
    qint64 m_oldSize;
    Sink m_sink;
    State m_state = State::Head;
    // The record's numbers as they are read, and how many are complete.
    quint64 m_numbers[3] = {0, 0, 0};
    int m_complete = 0;
    int m_shift = 0;
    qint64 m_remaining = 0;
    qint64 m_position = 0;
    QByteArray m_block;
};
