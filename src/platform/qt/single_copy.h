#pragma once

// How a later start of the program reaches the copy already running on the same list: a local socket on which
// the first copy listens, and one request, "show", that it answers once its window is back.

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace selvatro::platform::qt {

/// The first copy's side: listens on `path` and runs `show` for every later start that asks, on the event loop's
/// thread. Only the copy holding the list's lock may listen: whatever lies at `path` is a dead copy's and is
/// replaced. Needs a QApplication.
class ShowRequests {
public:
    ShowRequests(const std::string& path, std::function<void()> show);
    ~ShowRequests();
    ShowRequests(const ShowRequests&) = delete;
    ShowRequests& operator=(const ShowRequests&) = delete;

private:
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> show_;
};

/// A later start's side: asks the copy listening on `path` to show its window and waits, at most `timeoutMs`
/// milliseconds, until it has. False when no copy listens there or none answers in time.
bool AskToShow(const std::string& path, int timeoutMs);

}  // namespace selvatro::platform::qt
