#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <sys/types.h>

namespace veyra::helper {

// Counts the connections in flight, in total and per peer uid, and since when none has been.
// The per-uid cap is what keeps one local user who opens connections and then says nothing
// from taking every slot: the others' requests still find one free.
class ConnectionSlots {
public:
    using Clock = std::chrono::steady_clock;

    ConnectionSlots(std::size_t maximumTotal, std::size_t maximumPerUser);

    // Blocks until a slot is free or stop() was called; false after stop().
    bool waitForFreeSlot();
    // Takes a slot for a connection of `uid`; false when that uid already holds its share.
    bool admit(uid_t uid);
    void release(uid_t uid);
    void stop();
    bool stopping();
    // Blocks until no connection is in flight.
    void waitUntilEmpty();
    // How long no connection has been in flight; nothing while one is.
    std::optional<Clock::duration> idleFor();

private:
    const std::size_t m_maximumTotal;
    const std::size_t m_maximumPerUser;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_active = 0;
    std::map<uid_t, std::size_t> m_perUser;
    Clock::time_point m_idleSince = Clock::now();
    bool m_stopping = false;
};

} // namespace veyra::helper
