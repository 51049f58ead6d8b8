#pragma once

// One running copy per list. The claim on a list is a named mutex, named from the folder that identifies the list
// (the executable's, beside which or in whose per-user stand-in it lives); the system drops it with the process
// however it ends. The first copy publishes its window in a named shared memory block beside it; a later start
// posts that window the registered message "Selvatro.ShowAgain", which brings it back.

#include <windows.h>

#include <memory>
#include <string>

namespace selvatro::platform::win32 {

/// The message that asks the first copy's window to show itself again.
UINT ShowAgainMessage();

class SingleCopy {
public:
    /// Claims the list identified by the folder `identity`; the same folder in another letter case, through its short
    /// name or through a link is the same list.
    explicit SingleCopy(const std::string& identity);
    ~SingleCopy();
    SingleCopy(const SingleCopy&) = delete;
    SingleCopy& operator=(const SingleCopy&) = delete;

    /// Whether this process holds the claim: no other copy held it when this one was made, or none could be made
    /// here (the program then runs without the guarantee rather than not at all).
    bool isFirst() const { return first_; }
    /// Tells the first copy's window to show itself; waits up to `timeoutMs` for it to be published. Returns
    /// whether the message was posted.
    bool showFirst(DWORD timeoutMs = 5000) const;
    /// Makes `window` the one that later starts reach. Call once the window exists, in the first copy only.
    void publishWindow(HWND window);

    /// The name of the mutex for `identity` (exposed for the tests).
    static std::wstring MutexName(const std::string& identity);

private:
    struct HandleCloser {
        void operator()(HANDLE handle) const;
    };
    std::unique_ptr<void, HandleCloser> mutex_;
    std::unique_ptr<void, HandleCloser> published_;
    std::wstring name_;
    bool first_ = true;
};

}  // namespace selvatro::platform::win32
