#pragma once

// Waiting with a deadline on the monotonic clock, for the POSIX services and the holder alike (header only, since
// the holder links nothing of ours).

#include <poll.h>
#include <time.h>

#include <cerrno>

namespace selvatro::platform::posix {

/// CLOCK_MONOTONIC in milliseconds.
inline long long MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

/// Waits for `events` on `fd` until `deadline` (MonotonicMs); false when the time is up or poll fails. A signal
/// does not cut the wait short.
inline bool WaitFor(int fd, short events, long long deadline) {
    for (;;) {
        const long long left = deadline - MonotonicMs();
        if (left <= 0) {
            return false;
        }
        pollfd wanted{fd, events, 0};
        const int ready = ::poll(&wanted, 1, static_cast<int>(left));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace selvatro::platform::posix
