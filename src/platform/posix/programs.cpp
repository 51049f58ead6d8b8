#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"

namespace selvatro::platform::posix {

double PosixPrograms::start(const std::string& path) {
    // No arguments and no shell: the path as typed is the program, blanks and all.
    return static_cast<double>(SpawnDetached(path, {}));
}

}  // namespace selvatro::platform::posix
