#pragma once

#include "Driver.h"

namespace veyra::e2e {

// An hour (or `count` minutes) of ordinary use while connected, for the world's side to watch
// the processes' memory, descriptors and threads: a steady 1 MB/s download through the proxy the
// whole time, a latency test every 5 minutes, another node every 10, the window opened and
// closed every 15 (closed in between). Prints "soak: ..." lines: each action, each download
// that failed or came up short, and the totals at the end.
class Soak : public Driver {
public:
    using Driver::Driver;
    void run() override;
};

} // namespace veyra::e2e
