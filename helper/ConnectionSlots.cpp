#include "ConnectionSlots.h"

namespace veyra::helper {

ConnectionSlots::ConnectionSlots(std::size_t maximumTotal, std::size_t maximumPerUser)
    : m_maximumTotal(maximumTotal)
    , m_maximumPerUser(maximumPerUser)
{
}

bool ConnectionSlots::waitForFreeSlot()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_stopping || m_active < m_maximumTotal; });
    return !m_stopping;
}

bool ConnectionSlots::admit(uid_t uid)
{
    std::lock_guard lock(m_mutex);
    std::size_t &held = m_perUser[uid];
    if (m_stopping || m_active >= m_maximumTotal || held >= m_maximumPerUser) {
        if (held == 0)
            m_perUser.erase(uid);
        return false;
    }
    ++held;
    ++m_active;
    return true;
}

void ConnectionSlots::release(uid_t uid)
{
    // Notify under the lock: once the count reaches zero the owner may destroy the server,
    // and the condition variable with it, as soon as the lock is released.
    std::lock_guard lock(m_mutex);
    auto held = m_perUser.find(uid);
    if (held != m_perUser.end() && --held->second == 0)
        m_perUser.erase(held);
    if (--m_active == 0)
        m_idleSince = Clock::now();
    m_changed.notify_all();
}

void ConnectionSlots::stop()
{
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    m_changed.notify_all();
}

bool ConnectionSlots::stopping()
{
    std::lock_guard lock(m_mutex);
    return m_stopping;
}

void ConnectionSlots::waitUntilEmpty()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_active == 0; });
}

std::optional<ConnectionSlots::Clock::duration> ConnectionSlots::idleFor()
{
    std::lock_guard lock(m_mutex);
    if (m_active > 0)
        return std::nullopt;
    return Clock::now() - m_idleSince;
}

} // namespace veyra::helper
