#include "SipRegistration.h"

#include "RDLog.h"
#include "SipAuthorization.h"
#include "SipCredentials.h"
#include "SipMessage.h"
#include "SipText.h"

SipRegistration::~SipRegistration()
{
    if (last)
        osip_message_free(last);
    if (challenge)
        osip_message_free(challenge);
}

void SipRegistration::keepChallenge(const osip_message_t* answer)
{
    if (challenge)
        osip_message_free(challenge);
    challenge = SipMessage::clone(answer);
}

void SipRegistration::keepLast(const osip_message_t* message)
{
    if (message == last)
        return;
    if (last)
        osip_message_free(last);
    last = SipMessage::clone(message);
}

osip_message_t* SipRegistration::next(int nextExpires, const SipCredentials& credentials,
                                      const std::function<std::string()>& cnonce)
{
    osip_message_t* message = SipMessage::clone(last);
    if (!message || !message->cseq)
        return message;
    SipMessage::clearList(&message->vias, &osip_via_free);
    SipMessage::clearList(&message->authorizations, &osip_authorization_free);
    SipMessage::clearList(&message->proxy_authorizations, &osip_authorization_free);
    osip_free(message->cseq->number);
    message->cseq->number = osip_strdup(std::to_string(++cseq).c_str());
    SipMessage::replaceHeader(message, "Expires", std::to_string(nextExpires));
    addCredentials(message, credentials, cnonce);
    osip_message_force_update(message);
    return message;
}

void SipRegistration::addCredentials(osip_message_t* message, const SipCredentials& credentials,
                                     const std::function<std::string()>& cnonce)
{
    if (!challenge || !message->from || !message->from->url || !message->req_uri)
        return;
    const bool proxy = challenge->status_code == 407;
    const osip_www_authenticate_t* digest = SipAuthorization::digestChallenge(challenge);
    if (!digest) {
        RDLOG("no MD5 digest challenge to answer");
        return;
    }
    const std::string realm = SipAuthorization::realmOf(*digest);
    const std::string user = message->from->url->username ? message->from->url->username : "";
    const SipCredentials::Entry* entry = credentials.find(user, realm);
    if (!entry) {
        RDLOG("no credentials for %s in realm %s", user.c_str(), realm.c_str());
        return;
    }
    char* uriText = nullptr;
    if (osip_uri_to_str(message->req_uri, &uriText) != 0 || !uriText)
        return;
    const std::string uri = uriText;
    osip_free(uriText);
    // RFC 2617 3.2.2: the nonce count runs per nonce.
    const std::string challengeNonce = SipAuthorization::nonceOf(*digest);
    if (challengeNonce != nonce) {
        nonce = challengeNonce;
        nonceCount = 0;
    }
    std::string header;
    const SipAuthorization::Status status = SipAuthorization::header(
        *digest, {entry->userid, entry->password, entry->ha1}, "REGISTER", uri, nonceCount + 1, cnonce(), &header);
    if (status == SipAuthorization::Status::UnsupportedQop) {
        RDLOG("the challenge asks for qop %s, which is not supported", SipText::unquote(digest->qop_options).c_str());
        return;
    }
    ++nonceCount;
    const int result = proxy ? osip_message_set_proxy_authorization(message, header.c_str())
                             : osip_message_set_authorization(message, header.c_str());
    if (result != 0)
        RDLOG("cannot write the credentials for %s", user.c_str());
}
