#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// The one output of every diagnostic line once installed with qInstallMessageHandler: a per-user
// text file, opened, appended to and closed for each line so that it can be read, moved or
// deleted at any time while the updater runs.
namespace LogFile {

// A file larger than this is emptied before the next line is written.
constexpr qint64 kMaxSize = 31457280;

QString path();
// Sends the lines to another file from now on: the elevated install keeps its log where only it
// can write.
void setPath(const QString& path);
// "DEBUG", "INFO" or "WARNING"; empty for critical and fatal messages, as the file has always
// shown them.
QString levelWord(QtMsgType type);
QString formatLine(QtMsgType type, const QMessageLogContext& context, const QString& message,
                   const QDateTime& when);
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

} // namespace LogFile
