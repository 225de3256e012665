#pragma once

#include <deque>
#include <memory>
#include <mutex>

// A first-in first-out queue of owned pointers, guarded by its own mutex so that one thread may
// push while another pops or clears. A limit above 0 bounds it: a push beyond the limit frees
// the oldest items, so a live producer never outruns its consumer's memory.
template <typename T, typename Deleter = std::default_delete<T>>
class RDPointerQueue
{
public:
    RDPointerQueue() = default;
    ~RDPointerQueue() { clear(); }

    RDPointerQueue(const RDPointerQueue&) = delete;
    RDPointerQueue& operator=(const RDPointerQueue&) = delete;

    // Takes the item over (null is ignored); returns how many old items the limit dropped.
    int push(T* item)
    {
        if (!item)
            return 0;
        std::deque<T*> dropped;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_items.push_back(item);
            while (m_limit > 0 && int(m_items.size()) > m_limit) {
                dropped.push_back(m_items.front());
                m_items.pop_front();
            }
        }
        for (T* old : dropped)
            Deleter()(old);
        return int(dropped.size());
    }

    // The oldest item, or null; the caller takes it over.
    T* pop()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_items.empty())
            return nullptr;
        T* item = m_items.front();
        m_items.pop_front();
        return item;
    }

    void clear()
    {
        std::deque<T*> items;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            items.swap(m_items);
        }
        for (T* item : items)
            Deleter()(item);
    }

    int count() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return int(m_items.size());
    }

    // 0 (the default) leaves the queue unbounded. Lowering the limit trims at the next push.
    void setLimit(int limit)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_limit = limit > 0 ? limit : 0;
    }
    int limit() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_limit;
    }

private:
    mutable std::mutex m_mutex;
    std::deque<T*> m_items;
    int m_limit = 0;
};
