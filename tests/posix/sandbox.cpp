#include "sandbox.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace selvatro::test {

namespace fs = std::filesystem;

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "selvatro-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
    chmod(path_.c_str(), 0755);  // an unprivileged child must be able to reach what lies inside
}

Sandbox::~Sandbox() {
    std::error_code ignored;
    // Folders made read-only by a test must be writable again before their contents can go.
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            chmod(it->path().c_str(), 0755);
        }
    }
    fs::remove_all(path_, ignored);
}

std::string Sandbox::make(const std::string& relative) const {
    const std::string full = path_ + "/" + relative;
    fs::create_directories(full);
    return full;
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) {
            throw std::runtime_error("cannot write " + path);
        }
    }
    chmod(path.c_str(), mode);
}

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (access(path.c_str(), F_OK) != 0) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void WriteRecorder(const std::string& path) {
    fs::copy_file(SELVATRO_RECORDER, path, fs::copy_options::overwrite_existing);
    chmod(path.c_str(), 0755);
}

std::optional<Record> ReadRecord(const std::string& path) {
    if (!WaitForFile(path)) {
        return std::nullopt;
    }
    std::istringstream in(ReadFile(path).value_or(""));
    Record r;
    std::string line;
    r.name = ReadFile(path + ".name").value_or("");  // kept apart: a name may hold line feeds
    r.folder = ReadFile(path + ".folder").value_or("");
    std::getline(in, line);
    r.pid = static_cast<pid_t>(std::stol(line));
    std::getline(in, line);
    r.session = static_cast<pid_t>(std::stol(line));
    std::getline(in, r.input);
    std::getline(in, r.output);
    std::getline(in, r.blockedSignals);
    std::getline(in, r.ignoredSignals);
    std::getline(in, r.probe);
    std::getline(in, line);
    const int count = std::stoi(line);
    for (int i = 0; i < count && std::getline(in, line); ++i) {
        r.arguments.push_back(line);
    }
    return r;
}

std::string InChild(const std::function<std::string()>& body, bool unprivileged) {
    std::array<int, 2> fds{};
    if (pipe(fds.data()) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        close(fds[0]);
        std::string out;
        if (unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            out = "exception: cannot become nobody";
        } else {
            try {
                out = body();
            } catch (const std::exception& error) {
                out = std::string("exception: ") + error.what();
            }
        }
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string result;
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t n = read(fds[0], chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        result.append(chunk.data(), static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result += "[child ended abnormally]";
    }
    return result;
}

Outcome RunCommand(const std::string& command) {
    Outcome outcome;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return outcome;
    }
    std::array<char, 4096> chunk{};
    std::size_t n = 0;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        outcome.output.append(chunk.data(), n);
    }
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

std::map<std::string, std::string> XdgSandbox(const Sandbox& root) {
    return {{"HOME", root.make("home")},
            {"XDG_CONFIG_HOME", root.make("home/.config")},
            {"XDG_DATA_HOME", root.make("home/.local/share")},
            {"XDG_DATA_DIRS", root.make("system/share")},
            {"XDG_CONFIG_DIRS", root.make("system/etc")}};
}

void ApplyEnvironment(const std::map<std::string, std::string>& variables) {
    for (const auto& [name, value] : variables) {
        setenv(name.c_str(), value.c_str(), 1);
    }
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
}

}  // namespace selvatro::test
