#include "SingleInstanceLock.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// File names are limited to 255 bytes; leave room for the uid, the hash and ".lock".
constexpr size_t kMaxStem = 160;

std::string sanitise(const std::string& name)
{
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '.' || c == '-' || c == '_';
        out.push_back(plain ? char(c) : '_');
    }
    if (out.empty() || out[0] == '.')
        out.insert(out.begin(), '_');
    return out;
}

uint64_t fnv1a(const std::string& text)
{
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace

SingleInstanceLock::SingleInstanceLock(const std::string& name) : m_path(lockPath(name)) {}

SingleInstanceLock::~SingleInstanceLock()
{
    release();
}

std::string SingleInstanceLock::lockPath(const std::string& name)
{
    std::string stem = sanitise(name);
    if (stem.size() > kMaxStem) {
        char hash[24];
        std::snprintf(hash, sizeof(hash), "-%016llx", static_cast<unsigned long long>(fnv1a(name)));
        stem = stem.substr(0, kMaxStem) + hash;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (runtime && runtime[0] == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
        return std::string(runtime) + "/" + stem + ".lock";
    return "/tmp/" + stem + "-" + std::to_string(getuid()) + ".lock";
}

SingleInstanceLock::Result SingleInstanceLock::acquire()
{
    if (m_fd >= 0)
        return Acquired;
    m_error.clear();
    // O_NOFOLLOW: in a shared /tmp another user could plant a link to a file of ours.
    const int fd = open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        m_error = "open " + m_path + ": " + strerror(errno);
        return Failed;
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK)
            return Held;
        m_error = "flock " + m_path + ": " + strerror(error);
        return Failed;
    }
    m_fd = fd;
    return Acquired;
}

bool SingleInstanceLock::release()
{
    if (m_fd < 0)
        return false;
    // The file stays: removing it would let a newcomer lock a fresh file while a waiter still
    // holds the old one open. Closing drops the lock.
    close(m_fd);
    m_fd = -1;
    return true;
}
