#pragma once

#include "TestSupport.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// A network namespace that a test makes for itself and removes when done, so that raw frames,
// broadcast and multicast never leave the machine. Needs root and iproute2; tests call
// available() and skip with a message when it is false.
class TestNetns
{
public:
    static bool available();

    // Creates "snt-<tag>-<pid>-<n>" with its loopback up (multicast on, 224.0.0.0/4 routed to lo).
    explicit TestNetns(const QString& tag);
    ~TestNetns();
    TestNetns(const TestNetns&) = delete;
    TestNetns& operator=(const TestNetns&) = delete;

    bool isValid() const { return m_valid; }
    const QString& name() const { return m_name; }

    // `ip -n <name> <args>`; false (and the error printed) when it fails.
    bool ip(const QStringList& args);
    // Runs a command inside the namespace.
    TestSupport::Result exec(const QStringList& command, int timeoutMs = 60000);
    // Runs this very test program inside the namespace with a filter that names one test; the
    // inner run sees the environment variable SONARIS_TEST_NETNS set to the namespace name. A
    // success only when that one test ran and passed (an exit code of 0 alone is also what an
    // inner skip or a filter that matches nothing gives).
    ::testing::AssertionResult runSelf(const QString& gtestFilter, int timeoutMs = 120000);
    // True inside a run started by runSelf.
    static bool inside();

    // A veth pair between two namespaces (or within one when a == b), both ends up, with the
    // given addresses in CIDR form ("10.9.0.1/24"); an empty address leaves an end without one.
    static bool vethPair(TestNetns& a, const QString& aName, const QString& aAddress,
                         TestNetns& b, const QString& bName, const QString& bAddress);

    // Moves the calling thread into the namespace until the Enter object ends; sockets made
    // meanwhile belong to it. (Files under /sys still show the original namespace.)
    class Enter
    {
    public:
        explicit Enter(const TestNetns& ns);
        ~Enter();
        bool ok() const { return m_ok; }

    private:
        int m_original = -1;
        bool m_ok = false;
    };

private:
    QString m_name;
    bool m_valid = false;
};
