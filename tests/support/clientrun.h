#ifndef CLIENTRUN_H
#define CLIENTRUN_H

#include <QThread>

class DwonDialog;
class HttpDownLoadFile;

// The network client on a worker thread, wired as the program wires it, with the waits of
// shortWaits(): the check starts shortly after. Destroying the run stops the thread and closes
// every window it opened.
class ClientRun
{
public:
    ClientRun();
    ~ClientRun();
    ClientRun(const ClientRun&) = delete;
    ClientRun& operator=(const ClientRun&) = delete;

    HttpDownLoadFile* client() const { return m_client; }
    DwonDialog* progressDialog() const;

private:
    QThread m_worker;
    HttpDownLoadFile* m_client;
};

#endif // CLIENTRUN_H
