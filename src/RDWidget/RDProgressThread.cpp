#include "RDProgressThread.h"

#include "RDProgressDialog.h"

RDProgressThread::RDProgressThread(RDProgressDialog* dialog)
    : m_dialog(dialog)
{
    setName("RDProgressThread");
}

RDProgressThread::~RDProgressThread() = default;

void RDProgressThread::stop()
{
    RDThread::stop();
    m_dialog->stop();
}

void RDProgressThread::run()
{
    m_dialog->run();
}
