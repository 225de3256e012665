#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SipStack;
struct SipStackEvent;

// The application side of the stack for tests: a thread that reads the stack's events and
// answers them the way the SIP agent does (ring and answer calls with an SDP, answer requests
// out of dialog, answer registration challenges up to three times), keeping a record of every
// event for the test to check.
class SipTestAgent
{
public:
    enum CallMode { Answer, RingOnly, Decline };

    struct Record
    {
        int type = 0;
        int cid = 0;
        int tid = 0;
        int rid = 0;
        int status = 0; // response status, 0 when the event has none
        std::string method; // method of the event's request
    };

    explicit SipTestAgent(SipStack* stack);
    ~SipTestAgent();
    SipTestAgent(const SipTestAgent&) = delete;
    SipTestAgent& operator=(const SipTestAgent&) = delete;

    void setCallMode(CallMode mode);
    void setCredentials(const std::string& user, const std::string& password);

    // registerBuildInitial + registerSend under the stack lock; the rid or a negative result.
    int registerAccount(const std::string& from, const std::string& registrar, int expires);

    std::vector<Record> records() const;
    int count(int type) const;
    // Waits until count(type) >= n; false on time-out.
    bool waitFor(int type, int n, int timeoutMs) const;
    // Answers given to challenges since the last success.
    int authAnswers() const;

private:
    void run();
    void handle(SipStackEvent* event);

    SipStack* m_stack;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Record> m_records;
    CallMode m_mode = Answer;
    std::string m_user;
    std::string m_password;
    int m_authAnswers = 0;
    bool m_stop = false;
    std::thread m_thread;
};
