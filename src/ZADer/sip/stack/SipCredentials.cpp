#include "SipCredentials.h"

#include "RDLog.h"
#include "SipText.h"

#include <osipparser2/osip_port.h>

#include <algorithm>

int SipCredentials::add(const char* user, const char* userid, const char* password, const char* ha1,
                        const char* realm)
{
    if (!user || !*user || ((!password || !*password) && (!ha1 || !*ha1)))
        return OSIP_BADPARAMETER;
    if (SipText::hasControl(user) || SipText::hasControl(userid) || SipText::hasControl(password) ||
        SipText::hasControl(ha1) || SipText::hasControl(realm)) {
        RDLOG("credentials refused: a control character in their texts");
        return OSIP_SYNTAXERROR;
    }
    Entry entry;
    entry.user = user;
    entry.userid = userid && *userid ? userid : user;
    entry.password = password ? password : "";
    entry.ha1 = ha1 ? ha1 : "";
    entry.realm = SipText::unquote(realm ? realm : "");
    for (Entry& existing : m_entries) {
        if (existing.user == entry.user && existing.realm == entry.realm) {
            existing = entry;
            return 0;
        }
    }
    m_entries.push_back(entry);
    return 0;
}

int SipCredentials::remove(const char* user, const char* realm)
{
    if (!user)
        return OSIP_BADPARAMETER;
    const std::string key = SipText::unquote(realm ? realm : "");
    const auto before = m_entries.size();
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [&](const Entry& entry) { return entry.user == user && entry.realm == key; }),
                    m_entries.end());
    return m_entries.size() != before ? 0 : OSIP_NOTFOUND;
}

const SipCredentials::Entry* SipCredentials::find(const std::string& user, const std::string& realm) const
{
    const Entry* found = nullptr;
    for (const Entry& entry : m_entries) {
        if (entry.user == user && entry.realm == realm)
            found = &entry;
    }
    for (const Entry& entry : m_entries) {
        if (!found && entry.user == user && entry.realm.empty())
            found = &entry;
    }
    return found;
}
