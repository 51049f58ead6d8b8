// A stand-in for a listed program: appends the name it was started under and its argument count to the file
// named by SELVATRO_RECORDER_LOG, then ends. A compiled program rather than a shell script, so that no shell ever
// reads the hostile names it is installed under (a script named "-v" would be run as "sh -v").

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const char* log = std::getenv("SELVATRO_RECORDER_LOG");
    if (log == nullptr || argc < 1) {
        return 2;
    }
    // One write of one whole line, appended: lines of recorders started in the same tick never interleave.
    const std::string line = std::string(argv[0]) + "\t" + std::to_string(argc - 1) + "\n";
    const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return 1;
    }
    const bool whole = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    return whole ? 0 : 1;
}
