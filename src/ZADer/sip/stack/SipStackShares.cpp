#include "SipStackShares.h"

#include <algorithm>
#include <utility>

namespace {

// How often a full table of budgets is swept for refilled ones: a budget refills within a
// second, so sweeping more often finds nothing new while a spoofed flood keeps it full.
constexpr int64_t kPruneIntervalMs = 1000;

int indexOf(SipStackShares::Kind kind)
{
    return kind == SipStackShares::Kind::Call ? 1 : 0;
}

int shareOf(SipStackShares::Kind kind)
{
    return kind == SipStackShares::Kind::Call ? SipStackShares::kMaxCallsPerAddress
                                              : SipStackShares::kMaxTransactionsPerAddress;
}

} // namespace

SipStackShares::Ticket::~Ticket()
{
    release();
}

SipStackShares::Ticket::Ticket(Ticket&& other) noexcept
    : m_shares(std::exchange(other.m_shares, nullptr)), m_address(other.m_address), m_kind(other.m_kind)
{
}

SipStackShares::Ticket& SipStackShares::Ticket::operator=(Ticket&& other) noexcept
{
    if (this != &other) {
        release();
        m_shares = std::exchange(other.m_shares, nullptr);
        m_address = other.m_address;
        m_kind = other.m_kind;
    }
    return *this;
}

void SipStackShares::Ticket::release()
{
    if (m_shares)
        std::exchange(m_shares, nullptr)->release(m_kind, m_address);
}

bool SipStackShares::hasRoom(Kind kind, const in_addr& address) const
{
    return held(kind, address) < shareOf(kind);
}

int SipStackShares::held(Kind kind, const in_addr& address) const
{
    const auto it = m_entries.find(address.s_addr);
    return it == m_entries.end() ? 0 : it->second.held[indexOf(kind)];
}

SipStackShares::Ticket SipStackShares::take(Kind kind, const in_addr& address)
{
    ++m_entries[address.s_addr].held[indexOf(kind)];
    Ticket ticket;
    ticket.m_shares = this;
    ticket.m_address = address.s_addr;
    ticket.m_kind = kind;
    return ticket;
}

void SipStackShares::release(Kind kind, in_addr_t address)
{
    auto it = m_entries.find(address);
    if (it == m_entries.end())
        return;
    Entry& entry = it->second;
    entry.held[indexOf(kind)] = std::max(0, entry.held[indexOf(kind)] - 1);
    // A budget partly spent stays until a sweep finds it refilled.
    if (entry.held[0] == 0 && entry.held[1] == 0 && entry.stateless.refilledMs < 0)
        m_entries.erase(it);
}

bool SipStackShares::spendStateless(const in_addr& address, int64_t nowMs)
{
    auto it = m_entries.find(address.s_addr);
    if (it == m_entries.end()) {
        if (m_entries.size() >= kMaxBudgetAddresses &&
            (m_lastPruneMs < 0 || nowMs - m_lastPruneMs >= kPruneIntervalMs))
            pruneBudgets(nowMs);
        if (m_entries.size() >= kMaxBudgetAddresses)
            return false; // a flood from too many addresses to keep apart: none of them is answered
        it = m_entries.emplace(address.s_addr, Entry()).first;
    }
    if (!it->second.stateless.spend(nowMs, kStatelessPerSecond))
        return false;
    return m_allStateless.spend(nowMs, kAllStatelessPerSecond);
}

void SipStackShares::pruneBudgets(int64_t nowMs)
{
    m_lastPruneMs = nowMs;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const Entry& entry = it->second;
        if (entry.held[0] == 0 && entry.held[1] == 0 && entry.stateless.isFull(nowMs, kStatelessPerSecond))
            it = m_entries.erase(it);
        else
            ++it;
    }
}

bool SipStackShares::Budget::spend(int64_t nowMs, int perSecond)
{
    if (refilledMs < 0) {
        tokens = perSecond;
    } else if (nowMs > refilledMs) {
        tokens = std::min<double>(perSecond, tokens + (nowMs - refilledMs) * perSecond / 1000.0);
    }
    refilledMs = std::max(refilledMs, nowMs);
    if (tokens < 1)
        return false;
    tokens -= 1;
    return true;
}

bool SipStackShares::Budget::isFull(int64_t nowMs, int perSecond) const
{
    return refilledMs < 0 || tokens + (nowMs - refilledMs) * perSecond / 1000.0 >= perSecond;
}
