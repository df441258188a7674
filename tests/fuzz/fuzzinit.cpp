#include <QString>
#include <QtGlobal>

#include <cstdint>

namespace {

// The code under test logs every answer and every refusal; formatting the lines is exercised,
// writing millions of them would only slow the run down.
void discardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(discardMessage);
    return 0;
}
