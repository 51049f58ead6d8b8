// A stand-in for a listed program, shared by every test that starts programs and by the benchmark: installed under
// any name (a copy or a hard link), it records that it was started and how, then ends. A compiled program rather
// than a shell script, so that no shell ever reads the hostile names it is installed under (a script named "-v"
// would be run as "sh -v"); linked statically, so that the time from exec to its first reading is short and the
// same under every launcher.
//
// Every start appends one line, in one write, so that the lines of recorders started in the same tick never
// interleave:
//
//     NAME <tab> ARGUMENT COUNT <tab> CLOCK_MONOTONIC IN NS <tab> CLOCK_REALTIME AS SECONDS.NANOSECONDS
//
// NAME is the name it was started under (argv[0]); both clocks are read first thing. The line goes to the file
// named by $SELVATRO_RECORDER_LOG, else to launches.log beside the recorder, which a launcher that does not pass
// its environment on (systemd-run) cannot move.
//
// With $SELVATRO_RECORD set it also writes what it inherited from its launcher: its name to $SELVATRO_RECORD.name
// (a name may hold line feeds), then to $SELVATRO_RECORD, one item a line, its process id, its session id, where
// its standard input and output point, its blocked and ignored signals as /proc shows them, whether descriptor
// $SELVATRO_PROBE_FD was open ("open" or "closed"), the number of its arguments, then each argument. That file
// appears whole (written aside, then renamed). $SELVATRO_SLEEP, in seconds, delays it. Its current folder is
// written to $SELVATRO_RECORD.folder before that file appears.

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Writes `text` in one call to a file opened write-only with `flags`; false when any step fails.
bool WriteWhole(const std::string& path, int flags, const std::string& text) {
    const int fd = open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && whole;
}

std::string ReadWhole(const char* path) {
    std::string text;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char chunk[4096];
    ssize_t n = 0;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

std::string LinkTarget(const char* path) {
    char target[4096];
    const ssize_t n = readlink(path, target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The value of the line "key:<blanks>value" in /proc/self/status (never its first line, which is the name).
std::string StatusField(const std::string& status, const char* key) {
    const std::string start = std::string("\n") + key + ":";
    const std::size_t at = status.find(start);
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t from = status.find_first_not_of(" \t", at + start.size());
    const std::size_t to = status.find('\n', from);
    return from == std::string::npos ? "" : status.substr(from, to - from);
}

std::string Lines(std::initializer_list<std::string> items) {
    std::string text;
    for (const std::string& item : items) {
        text += item + "\n";
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    timespec monotonic{};
    timespec realtime{};
    clock_gettime(CLOCK_MONOTONIC, &monotonic);
    clock_gettime(CLOCK_REALTIME, &realtime);
    // Read before this program opens a descriptor of its own, which could take the probed number.
    const std::string probeFd = Environment("SELVATRO_PROBE_FD");
    const bool probeOpen = !probeFd.empty() && fcntl(std::atoi(probeFd.c_str()), F_GETFD) != -1;

    const std::string name = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    bool ok = true;

    char clocks[64];
    std::snprintf(clocks, sizeof clocks, "%lld\t%lld.%09ld",
                  static_cast<long long>(monotonic.tv_sec) * 1000000000LL + monotonic.tv_nsec,
                  static_cast<long long>(realtime.tv_sec), realtime.tv_nsec);
    std::string log = Environment("SELVATRO_RECORDER_LOG");
    if (log.empty()) {
        const std::size_t slash = name.rfind('/');
        log = (slash == std::string::npos ? std::string() : name.substr(0, slash + 1)) + "launches.log";
    }
    ok = WriteWhole(log, O_CREAT | O_APPEND, name + "\t" + std::to_string(argc - 1) + "\t" + clocks + "\n") && ok;

    const std::string record = Environment("SELVATRO_RECORD");
    if (record.empty()) {
        return ok ? 0 : 1;
    }
    const std::string status = ReadWhole("/proc/self/status");
    const std::string pause = Environment("SELVATRO_SLEEP");
    if (!pause.empty()) {
        const double seconds = std::strtod(pause.c_str(), nullptr);
        const auto whole = static_cast<time_t>(seconds);
        const timespec wait{whole, static_cast<long>((seconds - static_cast<double>(whole)) * 1e9)};
        nanosleep(&wait, nullptr);
    }
    std::string text = Lines({std::to_string(getpid()), std::to_string(getsid(0)), LinkTarget("/proc/self/fd/0"),
                              LinkTarget("/proc/self/fd/1"), StatusField(status, "SigBlk"),
                              StatusField(status, "SigIgn"), probeOpen ? "open" : "closed", std::to_string(argc - 1)});
    for (int i = 1; i < argc; ++i) {
        text += std::string(argv[i]) + "\n";
    }
    ok = WriteWhole(record + ".name", O_CREAT | O_TRUNC, name) && ok;
    char folder[4096];
    const char* here = getcwd(folder, sizeof folder);
    ok = WriteWhole(record + ".folder", O_CREAT | O_TRUNC, here != nullptr ? here : "") && ok;
    ok = WriteWhole(record + ".part", O_CREAT | O_TRUNC, text) && ok;
    ok = std::rename((record + ".part").c_str(), record.c_str()) == 0 && ok;
    return ok ? 0 : 1;
}
