#pragma once

// How the copy already running on a list hears a later start of the program: the listening socket of
// posix/single_copy.h, watched by the event loop, and one request, "show", that it answers once its window is back.

#include <functional>
#include <map>
#include <memory>
#include <string>

class QSocketNotifier;

namespace selvatro::platform::qt {

/// The first copy's side: listens on `path` and runs `show` for every later start that asks, on the event loop's
/// thread, never waiting for a slow asker. Only the copy holding the list's lock may listen: whatever lies at `path`
/// is a dead copy's and is replaced. Needs a QCoreApplication.
class ShowRequests {
public:
    ShowRequests(const std::string& path, std::function<void()> show);
    ~ShowRequests();
    ShowRequests(const ShowRequests&) = delete;
    ShowRequests& operator=(const ShowRequests&) = delete;

private:
    struct Asker {
        std::unique_ptr<QSocketNotifier> notifier;
        std::string received;
    };
    void accept();
    void serve(int connection);

    int listening_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<int, Asker> askers_;  ///< by connection
    std::function<void()> show_;
};

}  // namespace selvatro::platform::qt
