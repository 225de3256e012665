#pragma once

class SingleInstanceLock;

// Keeps a second copy of the application from running: the first process to lock a name holds
// it until it unlocks or exits (also by a crash); others are refused meanwhile.
class RDSingleInstance
{
public:
    // Keeps at most 4095 bytes of name.
    explicit RDSingleInstance(const char* name);
    ~RDSingleInstance();
    RDSingleInstance(const RDSingleInstance&) = delete;
    RDSingleInstance& operator=(const RDSingleInstance&) = delete;

    // False when another process holds the name, or the name is not valid UTF-8. A lock that
    // cannot be taken for any other reason is logged and gives true, holding nothing.
    bool lock();
    // False when nothing is held.
    bool unlock();

private:
    char m_name[4096];
    SingleInstanceLock* m_handle = nullptr;
};
