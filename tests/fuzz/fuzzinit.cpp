#include <QString>
#include <QtGlobal>

// The code under test logs every answer and every refusal; formatting the lines is exercised,
// writing millions of them would only slow the run down.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}
