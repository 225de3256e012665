#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <map>

// Each source address's share of the tables every peer of the stack fills (open server
// transactions, calls) and of the answers the stack sends outside any transaction (503 when a
// share or a table is full, 400 to what does not parse). One address that floods the stack,
// say with INVITEs it never acknowledges, is refused at its share, and other addresses keep
// being answered. What an address holds is counted by tickets that its transactions and calls
// carry, so every way they end gives their place back.
//
// Owned by the stack, under its lock; it must outlive every ticket it handed out. Addresses are
// in network byte order as the socket gives them.
class SipStackShares
{
public:
    enum class Kind
    {
        Transaction,
        Call
    };

    // Open server transactions one address may hold. A PBX that relays the calls of every
    // channel keeps far fewer open at once, and eight addresses at their share still fit the
    // stack's whole table of 512.
    static constexpr int kMaxTransactionsPerAddress = 64;
    // Calls one address may hold of the stack's 64: a PBX paging every zone at once still gets
    // 48, and 16 always stay for the other addresses.
    static constexpr int kMaxCallsPerAddress = 48;
    // Answers outside a transaction, per address and for all addresses together, in a second
    // (and at most that many at once). Each answers a datagram the sender may have spoofed, so
    // above this a refusal is a silent drop; a user agent repeats its request after T1 anyway.
    // Measured on a burst of 3,000 INVITEs from one address: a 503 for each refusal sent it
    // 2,983 answers and took the stack up to twice as long to read the burst.
    static constexpr int kStatelessPerSecond = 10;
    static constexpr int kAllStatelessPerSecond = 100;
    // Addresses that hold nothing are kept for their budget only while fewer than this many are
    // kept in all; addresses holding tickets are always kept (at most one per transaction and
    // call the stack's tables hold).
    static constexpr size_t kMaxBudgetAddresses = 1024;

    // One transaction or call counted against its address until the ticket is destroyed.
    class Ticket
    {
    public:
        Ticket() = default;
        ~Ticket();
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&& other) noexcept;
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;

    private:
        friend class SipStackShares;
        void release();

        SipStackShares* m_shares = nullptr;
        in_addr_t m_address = 0;
        Kind m_kind = Kind::Transaction;
    };

    SipStackShares() = default;
    SipStackShares(const SipStackShares&) = delete;
    SipStackShares& operator=(const SipStackShares&) = delete;

    // Whether address may open one more of kind.
    bool hasRoom(Kind kind, const in_addr& address) const;
    int held(Kind kind, const in_addr& address) const;
    // Counts one of kind against address (also beyond its share: the caller asks hasRoom first).
    Ticket take(Kind kind, const in_addr& address);
    // Whether one more answer outside a transaction may go to address at nowMs (monotonic);
    // true spends it from the address's budget and from the budget of all addresses.
    bool spendStateless(const in_addr& address, int64_t nowMs);
    // Addresses with tickets or with a budget partly spent.
    size_t addressCount() const { return m_entries.size(); }

private:
    // A second's worth of answers that refills continuously.
    struct Budget
    {
        double tokens = 0;
        int64_t refilledMs = -1; // -1: never spent, full

        bool spend(int64_t nowMs, int perSecond);
        bool isFull(int64_t nowMs, int perSecond) const;
    };
    struct Entry
    {
        int held[2] = {0, 0};
        Budget stateless;
    };

    void release(Kind kind, in_addr_t address);
    // Drops the addresses without tickets whose budget has refilled.
    void pruneBudgets(int64_t nowMs);

    std::map<in_addr_t, Entry> m_entries;
    Budget m_allStateless;
    int64_t m_lastPruneMs = -1;
};
