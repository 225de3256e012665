#include "RDSingleInstance.h"

#include "RDLog.h"
#include "SingleInstanceLock.h"

#include <QTextCodec>

#include <cstring>

RDSingleInstance::RDSingleInstance(const char* name)
{
    m_name[0] = '\0';
    if (name) {
        std::strncpy(m_name, name, sizeof(m_name) - 1);
        m_name[sizeof(m_name) - 1] = '\0';
    }
}

RDSingleInstance::~RDSingleInstance()
{
    delete m_handle;
}

bool RDSingleInstance::lock()
{
    if (m_handle)
        return true;
    QTextCodec* utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::ConvertInvalidToNull);
    utf8->toUnicode(m_name, int(std::strlen(m_name)), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0) {
        RDLOG("single instance: name is not valid UTF-8");
        return false;
    }
    auto* handle = new SingleInstanceLock(m_name);
    switch (handle->acquire()) {
    case SingleInstanceLock::Acquired:
        m_handle = handle;
        return true;
    case SingleInstanceLock::Held:
        delete handle;
        return false;
    case SingleInstanceLock::Failed:
        break;
    }
    RDLOG("single instance: cannot lock, running without the lock: %s", handle->errorText().c_str());
    delete handle;
    return true;
}

bool RDSingleInstance::unlock()
{
    if (!m_handle)
        return false;
    delete m_handle;
    m_handle = nullptr;
    return true;
}
