#include "VexaClient.h"

#include "VexaClientObserver.h"

VexaClient::~VexaClient() = default;

int VexaClient::send(const std::string& text)
{
    return send(text.data(), static_cast<int>(text.size()));
}

int VexaClient::send(const char* data, int length)
{
    if (!data || length < 0)
        return -1;
    VexaBuffer buffer(data, length);
    return sendData(buffer);
}

void VexaClient::makeShared()
{
    std::lock_guard<std::mutex> lock(m_selfLock);
    if (m_self)
        return;
    // Copies handed out before a resetShared may still own the object: a second control block
    // beside theirs would delete it twice, so it is owned through theirs again.
    if (std::shared_ptr<VexaClient> alive = m_weakSelf.lock()) {
        m_self = std::move(alive);
        return;
    }
    m_self = std::shared_ptr<VexaClient>(this);
    m_weakSelf = m_self;
}

void VexaClient::resetShared()
{
    std::shared_ptr<VexaClient> last;
    {
        std::lock_guard<std::mutex> lock(m_selfLock);
        last.swap(m_self);
    }
    // last may delete this object on leaving scope: nothing after it touches a member.
}

std::shared_ptr<VexaClient> VexaClient::sharedSelf() const
{
    std::lock_guard<std::mutex> lock(m_selfLock);
    return m_self;
}

void VexaClient::notifyData(VexaBuffer& buffer)
{
    VexaClientObserver* observer = m_observer.load();
    if (!observer || isCloseRequested())
        return;
    const std::shared_ptr<VexaClient> self = sharedSelf();
    if (!self)
        return;
    observer->onData(self, buffer);
}
