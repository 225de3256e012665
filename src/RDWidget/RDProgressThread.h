#pragma once

#include "RDThread.h"

class RDProgressDialog;

// The worker that runs a progress dialog's task.
class RDProgressThread : public RDThread
{
public:
    explicit RDProgressThread(RDProgressDialog* dialog);
    ~RDProgressThread() override;

    // Raises the stop flag, then calls the dialog's cancel hook (on the caller's thread).
    void stop() override;

protected:
    // Runs the dialog's task on this thread.
    void run() override;

private:
    RDProgressDialog* m_dialog;
};
