#pragma once

#include <string>
#include <vector>

// The stack's credentials, keyed by (From user, realm); an entry with an empty realm answers a
// challenge of any realm. Under the stack lock.
class SipCredentials
{
public:
    struct Entry
    {
        std::string user;
        std::string userid; // the digest user name
        std::string password;
        std::string ha1;
        std::string realm;
    };

    // Adds or replaces the entry of (user, realm): 0, OSIP_BADPARAMETER without a user or
    // without both password and ha1, OSIP_SYNTAXERROR for a control character in a text.
    // An empty userid is the user.
    int add(const char* user, const char* userid, const char* password, const char* ha1, const char* realm);
    // 0, or OSIP_NOTFOUND when there was no such entry.
    int remove(const char* user, const char* realm);
    // The entry of (user, realm), else the user's entry for any realm; null when neither exists.
    const Entry* find(const std::string& user, const std::string& realm) const;
    void clear() { m_entries.clear(); }

private:
    std::vector<Entry> m_entries;
};
