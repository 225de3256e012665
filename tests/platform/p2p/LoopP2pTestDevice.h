#pragma once

#include <string>

// The device side of the P2P library as the tests and fuzz harnesses set it up: initialised
// with the program's limits and logged in, so that a test can open sessions to it.
class LoopP2pTestDevice
{
public:
    static constexpr int kSessionLimit = 3;
    static constexpr int kAvServerLimit = 32;

    // Initialises the library and logs in under uid; the login's result (0 on success).
    static int logIn(const std::string& uid, int sessionLimit = kSessionLimit, int avServerLimit = kAvServerLimit);
    // The one device of this process (the library allows no second), logged in on the first
    // call under prefix and the process id, so that harnesses run side by side never meet;
    // later calls return its UID whatever their prefix.
    static const std::string& processDevice(const char* prefix);
};
