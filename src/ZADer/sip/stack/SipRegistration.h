#pragma once

#include <osipparser2/osip_parser.h>

#include <functional>
#include <string>

class SipCredentials;

// One registration context of the stack (its rid): the last REGISTER built or sent, from which
// every later one is copied with the next CSeq, and the last challenge with its nonce count.
// Under the stack lock.
class SipRegistration
{
public:
    SipRegistration() = default;
    ~SipRegistration();
    SipRegistration(const SipRegistration&) = delete;
    SipRegistration& operator=(const SipRegistration&) = delete;

    // The next REGISTER (caller frees): a copy of the last with no Via, CSeq + 1, that Expires
    // and, after a challenge, credentials from the store; cnonce draws a client nonce when one
    // is needed. Null when the copy cannot be made.
    osip_message_t* next(int expires, const SipCredentials& credentials, const std::function<std::string()>& cnonce);
    // Keeps a 401/407 to answer in the next REGISTER.
    void keepChallenge(const osip_message_t* answer);
    // Sets *message as the one the next REGISTER copies (freeing the old one).
    void keepLast(const osip_message_t* message);

    int rid = 0;
    // The last REGISTER built or sent; the next one is a copy of it.
    osip_message_t* last = nullptr;
    int expires = 0;
    int cseq = 1;
    bool pending = false;
    int pendingTid = 0;
    bool autoContact = false;
    osip_message_t* challenge = nullptr;
    std::string nonce;
    unsigned nonceCount = 0;
    int consecutive423 = 0;

private:
    void addCredentials(osip_message_t* message, const SipCredentials& credentials,
                        const std::function<std::string()>& cnonce);
};
