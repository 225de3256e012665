#include "RDThreadLocker.h"

RDThreadLocker::RDThreadLocker() : m_mutex(new std::mutex) {}

RDThreadLocker::~RDThreadLocker()
{
    delete m_mutex;
}

int RDThreadLocker::lock()
{
    m_mutex->lock();
    return 0;
}

int RDThreadLocker::unlock()
{
    m_mutex->unlock();
    return 0;
}
