// Events waiting for their sample, in clock order. Events for the same clock
// keep the order they came in: a plug-in that schedules two events for one
// sample gets them back in that order.
#ifndef VXHOST_EVENTQUEUE_H
#define VXHOST_EVENTQUEUE_H

#include <algorithm>
#include <cstddef>
#include <vector>

namespace vxhost {

template <class Clock, class Item>
class EventQueue {
public:
    struct Entry {
        Clock clock;
        Item item;
    };

    // Events arrive during processing calls; room reserved when the instance
    // opens keeps those calls free of allocation in the common case.
    void Reserve(size_t count) { m_entries.reserve(count); }
    // After every entry whose clock is not later than `clock`.
    void Push(Clock clock, const Item& item) {
        const auto later = std::upper_bound(m_entries.begin(), m_entries.end(), clock,
                                            [](const Clock& c, const Entry& e) { return c < e.clock; });
        m_entries.insert(later, Entry{clock, item});
    }
    bool Empty() const { return m_entries.empty(); }
    size_t Size() const { return m_entries.size(); }
    const Entry& Front() const { return m_entries.front(); }
    // Whether the first event's clock is `now` or earlier.
    bool DueBy(const Clock& now) const { return !m_entries.empty() && !(now < m_entries.front().clock); }
    Entry Pop() {
        Entry e = m_entries.front();
        m_entries.erase(m_entries.begin());
        return e;
    }
    void Clear() { m_entries.clear(); }

private:
    std::vector<Entry> m_entries;
};

}  // namespace vxhost

#endif  // VXHOST_EVENTQUEUE_H
