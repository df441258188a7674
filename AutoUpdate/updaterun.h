#pragma once

#include "windows/updatedialog.h"

#include <QThread>

class HttpDownLoadFile;

// One run's road and windows: the network client on its worker thread and the prompt (with the
// progress window it holds) on the calling one, wired to follow each other. The check starts
// after the start delay; destroying the run stops the worker and releases the network objects
// there.
class UpdateRun
{
public:
    UpdateRun();
    ~UpdateRun();
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    HttpDownLoadFile* client() const { return m_client; }

private:
    void ConnectWindows();

    QThread m_worker;
    UpdateDialog m_prompt;
    HttpDownLoadFile* m_client;
};
