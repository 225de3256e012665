#pragma once

#include <string>

// A lock held by at most one process of the user at a time: an exclusive flock on a file named
// after the lock in the user's runtime directory ($XDG_RUNTIME_DIR, else /tmp with the uid in the
// name). The kernel drops it when the holder exits or dies, so a crash never leaves it stale.
class SingleInstanceLock
{
public:
    enum Result
    {
        Acquired, // this object holds the lock now
        Held,     // another holder has it
        Failed    // the lock file could not be opened or locked; errorText() says why
    };

    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    Result acquire();
    // False when nothing was held.
    bool release();
    bool isHeld() const { return m_fd >= 0; }

    const std::string& path() const { return m_path; }
    const std::string& errorText() const { return m_error; }

    // The lock file for name: characters other than letters, digits, '.', '-' and '_' become
    // '_'; a very long name is cut and given a hash of the whole so that names stay distinct.
    static std::string lockPath(const std::string& name);

private:
    std::string m_path;
    std::string m_error;
    int m_fd = -1;
};
