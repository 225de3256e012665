#include "SipTestAgent.h"

#include "SipStack.h"

#include <chrono>
#include <cstring>

namespace {

const char* const kAnswerSdp =
    "v=0\r\no=test 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
    "m=audio 40000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n";

} // namespace

SipTestAgent::SipTestAgent(SipStack* stack) : m_stack(stack)
{
    m_thread = std::thread([this] { run(); });
}

SipTestAgent::~SipTestAgent()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stop = true;
    }
    m_thread.join();
}

void SipTestAgent::setCallMode(CallMode mode)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_mode = mode;
}

void SipTestAgent::setCredentials(const std::string& user, const std::string& password)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_user = user;
    m_password = password;
}

int SipTestAgent::registerAccount(const std::string& from, const std::string& registrar, int expires)
{
    m_stack->lock();
    osip_message_t* message = nullptr;
    int rid = m_stack->registerBuildInitial(from.c_str(), registrar.c_str(), nullptr, expires, &message);
    if (rid > 0) {
        const int sent = m_stack->registerSend(rid, message);
        if (sent < 0)
            rid = sent;
    }
    m_stack->unlock();
    return rid;
}

std::vector<SipTestAgent::Record> SipTestAgent::records() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_records;
}

int SipTestAgent::count(int type) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    int n = 0;
    for (const Record& record : m_records)
        n += record.type == type;
    return n;
}

bool SipTestAgent::waitFor(int type, int n, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        int seen = 0;
        for (const Record& record : m_records)
            seen += record.type == type;
        return seen >= n;
    });
}

int SipTestAgent::authAnswers() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_authAnswers;
}

void SipTestAgent::run()
{
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_stop)
                return;
        }
        SipStackEvent* event = m_stack->eventWait(0, 20);
        if (!event)
            continue;
        Record record;
        record.type = event->type;
        record.cid = event->cid;
        record.tid = event->tid;
        record.rid = event->rid;
        record.status = event->response ? event->response->status_code : 0;
        record.method = event->request && event->request->sip_method ? event->request->sip_method : "";
        handle(event);
        SipStack::eventFree(event);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_records.push_back(record);
        m_changed.notify_all();
    }
}

void SipTestAgent::handle(SipStackEvent* event)
{
    CallMode mode;
    std::string user, password;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        mode = m_mode;
        user = m_user;
        password = m_password;
    }
    m_stack->lock();
    switch (event->type) {
    case SipStackEvent::CallInvite:
        if (mode == Decline) {
            m_stack->callTerminate(event->cid, event->did);
            break;
        }
        m_stack->callSendAnswer(event->tid, 180, nullptr);
        if (mode == Answer) {
            osip_message_t* answer = nullptr;
            if (m_stack->callBuildAnswer(event->tid, 200, &answer) == 0) {
                osip_message_set_body(answer, kAnswerSdp, std::strlen(kAnswerSdp));
                osip_message_set_content_type(answer, "application/sdp");
                m_stack->callSendAnswer(event->tid, 200, answer);
            }
        }
        break;
    case SipStackEvent::CallReinvite:
    case SipStackEvent::CallMessageNew:
        m_stack->callSendAnswer(event->tid, 200, nullptr);
        break;
    case SipStackEvent::MessageNew: {
        const bool message = event->request && std::strcmp(event->request->sip_method, "MESSAGE") == 0;
        m_stack->messageSendAnswer(event->tid, message ? 202 : 200, nullptr);
        break;
    }
    case SipStackEvent::RegistrationSuccess: {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_authAnswers = 0;
        break;
    }
    case SipStackEvent::RegistrationFailure: {
        const int status = event->response ? event->response->status_code : 0;
        int answers;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            answers = m_authAnswers;
        }
        if ((status == 401 || status == 407) && answers < 3 && !user.empty()) {
            m_stack->addAuthInfo(user.c_str(), user.c_str(), password.c_str(), nullptr, "");
            if (m_stack->registerSend(event->rid, nullptr) == 0) {
                std::lock_guard<std::mutex> guard(m_mutex);
                ++m_authAnswers;
            }
        }
        break;
    }
    default:
        break;
    }
    m_stack->unlock();
}
