// Each started program in a systemd scope of its own: the unit's name, and the request as a stand-in for the user's
// manager receives it on a private bus; the programs start on time whatever the bus does.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_services.h"
#include "sandbox.h"

namespace selvatro::platform::posix {
namespace {

using namespace std::chrono_literals;
using test::InChild;
using test::ReadFile;
using test::ReadRecord;
using test::RunCommand;
using test::Sandbox;
using test::WaitForFile;
using test::WriteFile;
using test::WriteRecorder;

// Far above a start's own few milliseconds, far below a reply that takes seconds or a bus that never answers.
constexpr auto kOnTime = 500ms;

std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

TEST(ScopeNames, ANamePartIsEscapedAsSystemdEscapesIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"firefox", "firefox"},
        {"firefox-esr", "firefox\\x2desr"},
        {"my prog", "my\\x20prog"},
        {".hidden", "\\x2ehidden"},
        {"..", "\\x2e."},
        {"a.b.", "a.b."},
        {"a:b_c", "a:b_c"},
        {"usr/bin/x", "usr-bin-x"},
        {"/usr/bin/x", "-usr-bin-x"},
        {"back\\slash", "back\\x5cslash"},
        {"$HOME;x", "\\x24HOME\\x3bx"},
        {"tab\tline\n", "tab\\x09line\\x0a"},
        {"\xC3\x9Cn\xC3\xAF"
         "code",
         "\\xc3\\x9cn\\xc3\\xafcode"},
        {"caf\xE9", "caf\\xe9"},
        {"", ""},
    };
    const bool haveSystemd = RunCommand("command -v systemd-escape").status == 0;
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(EscapeUnitNamePart(text), escaped) << text;
        if (haveSystemd) {
            std::string theirs = RunCommand("systemd-escape -- " + ShellQuoted(text)).output;
            theirs.pop_back();  // its line feed
            EXPECT_EQ(theirs, escaped) << text;
        }
    }
}

TEST(ScopeNames, AUnitNamesTheProgramsFileAndStaysWithinSystemdsLimit) {
    std::string eAcute;
    std::string eAcuteEscaped;
    for (int i = 0; i < 28; ++i) {
        eAcute += "\xC3\xA9";
        eAcuteEscaped += "\\xc3\\xa9";
    }
    struct Case {
        std::string program;
        pid_t pid;
        std::string unit;
    };
    const Case cases[] = {
        {"/usr/bin/firefox", 42, "app-selvatro-firefox-42.scope"},
        {"/opt/My Apps/.tool-x", 7, "app-selvatro-\\x2etool\\x2dx-7.scope"},
        {"relative/prog", 1234567, "app-selvatro-prog-1234567.scope"},
        // 255 characters in all, and no more.
        {"/x/" + std::string(300, 'a'), 4194304, "app-selvatro-" + std::string(228, 'a') + "-4194304.scope"},
        // Room for 228 characters: "b" and 56 escapes take 225, the next escape would be cut.
        {"/x/b" + eAcute + eAcute + eAcute, 4194304, "app-selvatro-b" + eAcuteEscaped + "-4194304.scope"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScopeUnitName(c.program, c.pid), c.unit) << c.program;
    }
}

// A command run in the background, ended with the object.
class Background {
public:
    explicit Background(const std::string& command)
        : pid_(std::atoi(RunCommand(command + " >/dev/null 2>&1 & echo $!").output.c_str())) {}
    ~Background() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

private:
    pid_t pid_;
};

// A dbus-daemon of our own listening at `socket`, with no service files, so that nothing is ever activated.
class PrivateBus {
public:
    PrivateBus(const Sandbox& box, const std::string& socket)
        : address_("unix:path=" + socket),
          daemon_(std::string(DBUS_DAEMON) + " --nofork --config-file=" + Configure(box, socket)) {
        WaitForFile(socket);
    }
    const std::string& address() const { return address_; }

private:
    static std::string Configure(const Sandbox& box, const std::string& socket) {
        const std::string config = box.path() + "/bus.conf";
        WriteFile(config,
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig><type>session</type><listen>unix:path=" +
                      socket +
                      "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                      "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        return config;
    }
    std::string address_;
    Background daemon_;
};

// The stand-in for the user's manager on `bus`, recording into `log` and answering as `behaviour` says, once it
// owns its name.
class Manager {
public:
    Manager(const PrivateBus& bus, const std::string& log, const std::string& behaviour)
        : process_(std::string(MANAGER_STAND_IN) + " " + bus.address() + " " + log + " " + behaviour),
          ready_(WaitForFile(log + ".ready")) {}
    bool ready() const { return ready_; }

private:
    Background process_;
    bool ready_;
};

// The stand-in's calls, one per line (tests/posix/manager_stand_in.cpp says what each holds), once `count` have
// come or 3 s have passed.
struct Call {
    std::string unit;
    std::string mode;
    std::string pids;
    std::string description;
    std::string collectMode;
    std::string auxiliaryUnits;
    std::string exe;
    long long at = 0;  // when it came, on CLOCK_MONOTONIC in ns
};
std::vector<Call> ReadCalls(const std::string& log, std::size_t count) {
    std::vector<Call> calls;
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    do {
        calls.clear();
        std::istringstream lines(ReadFile(log).value_or(""));
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::istringstream parts(line);
            std::string field;
            while (std::getline(parts, field, '\t')) {
                fields.push_back(field);
            }
            fields.resize(9);
            calls.push_back({fields[1], fields[2], fields[3], fields[4], fields[5], fields[7], fields[8],
                             std::atoll(fields[0].c_str())});
        }
        if (calls.size() >= count) {
            break;
        }
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return calls;
}

// Starts `programs` as Selvatro does, each start timed, then `browser` as the publisher page does when it is
// given; then ends a second after the last start without waiting for anything, as Selvatro's end does. Returns the
// programs' own process ids as their recorders saw them, or what went wrong.
std::string StartAndEnd(const Sandbox& box, const std::vector<std::string>& programs, const std::string& browser = "") {
    std::vector<std::string> all = programs;
    if (!browser.empty()) {
        all.push_back(browser);
    }
    for (const std::string& program : all) {
        WriteRecorder(program);
    }
    const std::string started = InChild([&] {
        PosixPrograms starter;
        GioBrowser publisherPage;
        for (std::size_t i = 0; i < all.size(); ++i) {
            setenv("SELVATRO_RECORD", (box.path() + "/record" + std::to_string(i)).c_str(), 1);
            const auto before = std::chrono::steady_clock::now();
            if (i < programs.size()) {
                starter.start(all[i]);
            } else {
                publisherPage.shellExecute("open", all[i], "https://example.org/", "", 1);
            }
            if (std::chrono::steady_clock::now() - before > kOnTime) {
                return "late: " + all[i];
            }
        }
        std::this_thread::sleep_for(1s);
        return std::string("started");
    });
    if (started != "started") {
        return started;
    }
    std::string pids;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto seen = ReadRecord(box.path() + "/record" + std::to_string(i));
        if (!seen) {
            return "never ran: " + all[i];
        }
        if (!pids.empty()) {
            pids += ' ';
        }
        pids += std::to_string(seen->pid);
    }
    return pids;
}

TEST(ProgramScopes, EachProgramLandsInAScopeOfItsOwnWithItsOwnProcess) {
    Sandbox box;
    PrivateBus bus(box, box.path() + "/bus");
    const std::string log = box.path() + "/calls";
    Manager manager(bus, log, "answer");
    ASSERT_TRUE(manager.ready());
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);

    // The same program twice, a name that is neither a plain unit name nor UTF-8, and the publisher page's browser.
    const std::string rec = box.path() + "/rec";
    const std::string odd = box.path() + "/my prog-caf\xE9";
    std::istringstream started(StartAndEnd(box, {rec, rec, odd}, box.path() + "/browser"));
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    pid_t pid[4] = {};
    ASSERT_TRUE(started >> pid[0] >> pid[1] >> pid[2] >> pid[3]) << started.str();

    const std::vector<Call> calls = ReadCalls(log, 4);
    ASSERT_EQ(calls.size(), 4u);
    std::map<std::string, Call> byPid;
    for (const Call& call : calls) {
        byPid[call.pids] = call;
        EXPECT_EQ(call.mode, "fail");
        EXPECT_EQ(call.collectMode, "inactive-or-failed");
        EXPECT_EQ(call.auxiliaryUnits, "0");
    }
    const auto unitOf = [&](pid_t p) { return byPid[std::to_string(p)].unit; };
    EXPECT_EQ(unitOf(pid[0]), "app-selvatro-rec-" + std::to_string(pid[0]) + ".scope");
    EXPECT_EQ(unitOf(pid[1]), "app-selvatro-rec-" + std::to_string(pid[1]) + ".scope");
    EXPECT_EQ(unitOf(pid[2]), "app-selvatro-my\\x20prog\\x2dcaf\\xe9-" + std::to_string(pid[2]) + ".scope");
    EXPECT_EQ(unitOf(pid[3]), "app-selvatro-browser-" + std::to_string(pid[3]) + ".scope");
    EXPECT_EQ(byPid[std::to_string(pid[0])].description, rec + " started by Selvatro");
    EXPECT_EQ(byPid[std::to_string(pid[2])].description,
              box.path() + "/my prog-caf\xEF\xBF\xBD started by Selvatro");  // the stray byte replaced
}

TEST(ProgramScopes, ProgramsStartOnTimeWhateverTheBusDoes) {
    enum class Bus { None, NothingListening, NeverAnswering, Private, InRuntimeFolder };
    struct Case {
        const char* what;
        Bus bus;
        const char* manager;  // the stand-in's behaviour; none when null
    };
    const Case cases[] = {
        {"no session bus", Bus::None, nullptr},
        {"nothing listening at the bus's address", Bus::NothingListening, nullptr},
        {"a bus that never answers", Bus::NeverAnswering, nullptr},
        {"a bus without a manager", Bus::Private, nullptr},
        {"a manager that answers after 3 s", Bus::Private, "slow"},
        {"a manager that refuses", Bus::Private, "refuse"},
        {"a bus found in the runtime folder", Bus::InRuntimeFolder, "answer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        const std::string runtime = box.make("runtime");
        const std::string socketPath = c.bus == Bus::InRuntimeFolder ? runtime + "/bus" : box.path() + "/bus";
        std::unique_ptr<PrivateBus> bus;
        if (c.bus == Bus::Private || c.bus == Bus::InRuntimeFolder) {
            bus = std::make_unique<PrivateBus>(box, socketPath);
        }
        // A socket that takes connections into its backlog and never reads from them.
        int deaf = -1;
        if (c.bus == Bus::NeverAnswering) {
            deaf = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un where{};
            where.sun_family = AF_UNIX;
            std::strncpy(where.sun_path, socketPath.c_str(), sizeof where.sun_path - 1);
            ASSERT_EQ(bind(deaf, reinterpret_cast<const sockaddr*>(&where), sizeof where), 0);
            ASSERT_EQ(listen(deaf, 16), 0);
        }
        const std::string log = box.path() + "/calls";
        std::unique_ptr<Manager> manager;
        if (c.manager != nullptr) {
            manager = std::make_unique<Manager>(*bus, log, c.manager);
            ASSERT_TRUE(manager->ready());
        }
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        if (c.bus == Bus::NothingListening || c.bus == Bus::NeverAnswering || c.bus == Bus::Private) {
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socketPath).c_str(), 1);
        }

        const std::string started = StartAndEnd(box, {box.path() + "/first", box.path() + "/second"});
        std::istringstream pids(started);
        pid_t first = 0;
        pid_t second = 0;
        EXPECT_TRUE(pids >> first >> second) << started;
        if (manager) {
            // Both requests left before the end, the second without waiting for the first one's answer.
            EXPECT_EQ(ReadCalls(log, 2).size(), 2u);
        }
        if (deaf >= 0) {
            close(deaf);
        }
    }
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("XDG_RUNTIME_DIR");
}

bool Ends(pid_t pid, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (kill(pid, 0) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// What each test of an announced start begins with: a private bus with the manager's stand-in answering, and a
// recorder that logs each of its starts. `enter` points a test's child at both.
struct AnsweringManager {
    AnsweringManager() { WriteRecorder(rec); }
    void enter() const {
        setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
        setenv("SELVATRO_RECORDER_LOG", launches.c_str(), 1);
    }
    Sandbox box;
    PrivateBus bus{box, box.path() + "/bus"};
    std::string log = box.path() + "/calls";
    Manager manager{bus, log, "answer"};
    std::string rec = box.path() + "/rec";
    std::string launches = box.path() + "/launches";
};

// The start announced a tick ahead: the scope is asked for while the process is still ours, before the program
// runs a single instruction of its own, and the start then only lets it exec, on time. A launcher that starts a
// child and ends at once is the case that matters: by the time a request made after its start arrived, it would
// be gone and its child left behind in Selvatro's own unit.
TEST(ProgramScopes, AnAnnouncedProgramIsInItsScopeBeforeItRuns) {
    const AnsweringManager session;
    ASSERT_TRUE(session.manager.ready());
    const std::string launcher = session.box.path() + "/launcher";
    WriteFile(launcher,
              "#!/bin/sh\n\"" + session.rec + "\"\n\"" + session.rec + "\" &\necho $$ >\"" + session.box.path() +
                  "/launcher.pid\"\n",
              0755);
    const std::string unreadable = session.box.path() + "/not executable";
    WriteFile(unreadable, "#!/bin/sh\n", 0644);

    const std::string result = InChild([&] {
        session.enter();
        PosixPrograms starter(SELVATRO_HOLDER);
        std::string out;
        for (const std::string& program : {launcher, unreadable}) {
            starter.prepare(program);
        }
        // The tick a second later; here, once the manager has been asked for both.
        if (ReadCalls(session.log, 2).size() != 2) {
            return std::string("no request before the start");
        }
        const auto before = std::chrono::steady_clock::now();
        const pid_t started = static_cast<pid_t>(starter.start(launcher));
        if (std::chrono::steady_clock::now() - before > kOnTime) {
            return std::string("late");
        }
        out = std::to_string(started);
        // A program that cannot run fails at its start, as unannounced, and never runs.
        try {
            starter.start(unreadable);
            out += " started";
        } catch (const StartFailed& error) {
            out += std::string(" ") +
                   (std::string(error.what()) == unreadable + ": Permission denied" ? "refused" : error.what());
        }
        return out;
    });
    std::istringstream words(result);
    pid_t started = 0;
    std::string refused;
    ASSERT_TRUE(words >> started >> refused) << result;
    EXPECT_EQ(refused, "refused");
    ASSERT_TRUE(WaitForFile(session.box.path() + "/launcher.pid"));
    EXPECT_EQ(std::atoi(ReadFile(session.box.path() + "/launcher.pid")->c_str()), started);

    const std::vector<Call> calls = ReadCalls(session.log, 2);
    ASSERT_EQ(calls.size(), 2u);
    const Call& call = calls[0].pids == std::to_string(started) ? calls[0] : calls[1];
    EXPECT_EQ(call.pids, std::to_string(started));
    EXPECT_EQ(call.unit, "app-selvatro-launcher-" + std::to_string(started) + ".scope");
    // When the manager was asked, the process was still the holder, not yet the shell that runs the launcher.
    EXPECT_EQ(call.exe, std::filesystem::canonical(SELVATRO_HOLDER).string());
    // Both the launcher's first command and the child it left behind ran after the request had come.
    std::vector<long long> ran;
    for (int i = 0; i < 100 && ran.size() < 2; ++i) {
        ran.clear();
        std::istringstream lines(ReadFile(session.launches).value_or(""));
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::istringstream parts(line);
            std::string field;
            while (std::getline(parts, field, '\t')) {
                fields.push_back(field);
            }
            if (fields.size() >= 3) {
                ran.push_back(std::atoll(fields[2].c_str()));
            }
        }
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_EQ(ran.size(), 2u);
    for (const long long instant : ran) {
        EXPECT_LT(call.at, instant);
    }
    // The program that could not run was held as well, and went away without running anything.
    const Call& other = &call == &calls[0] ? calls[1] : calls[0];
    EXPECT_TRUE(Ends(std::atoi(other.pids.c_str()), 5s));
}

// Without a holder that runs (an installation missing a file), or with one that does not know our protocol (a
// Selvatro running on through an upgrade), an announced program is made at its start as any other, on time and
// once, and its scope is asked for afterwards.
TEST(ProgramScopes, WithoutAHolderThatHoldsAnAnnouncedProgramIsStartedAtItsInstant) {
    struct Case {
        const char* what;
        const char* holder;
        std::size_t requests;  // the held process's own, for a holder that ran, and the program's
    };
    const Case cases[] = {
        {"a holder that cannot run", "not a program\n", 1},
        {"a holder of another protocol", "#!/bin/sh\nexit 2\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AnsweringManager session;
        ASSERT_TRUE(session.manager.ready());
        const std::string holder = session.box.path() + "/selvatro-hold";
        WriteFile(holder, c.holder, 0755);
        const std::string result = InChild([&] {
            session.enter();
            PosixPrograms starter(holder);
            starter.prepare(session.rec);
            std::this_thread::sleep_for(300ms);
            const auto before = std::chrono::steady_clock::now();
            const auto started = static_cast<pid_t>(starter.start(session.rec));
            const bool late = std::chrono::steady_clock::now() - before > kOnTime;
            std::this_thread::sleep_for(1s);  // the request goes out after the start, while Selvatro runs on
            return late ? std::string("late") : std::to_string(started);
        });
        const std::vector<Call> calls = ReadCalls(session.log, c.requests);
        ASSERT_EQ(calls.size(), c.requests) << result;
        EXPECT_EQ(calls.back().pids, result);
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(ReadCalls(session.log, c.requests).size(), c.requests);
        const std::string ran = ReadFile(session.launches).value_or("");
        EXPECT_EQ(std::count(ran.begin(), ran.end(), '\n'), 1) << ran;
    }
}

// A process made ahead of a start that never comes (the run paused, the row changed, Selvatro ended) goes away
// by itself, without ever running the program.
TEST(ProgramScopes, AHeldProgramNeverReleasedGoesAwayUnrun) {
    enum class Then { SelvatroEnds, StarterDropped, TimeIsUp, AnnouncedAgain };
    struct Case {
        const char* what;
        Then then;
    };
    const Case cases[] = {
        {"Selvatro ends", Then::SelvatroEnds},
        {"the starter is dropped", Then::StarterDropped},
        {"nothing happens", Then::TimeIsUp},
        {"the start is announced again and then comes", Then::AnnouncedAgain},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AnsweringManager session;
        ASSERT_TRUE(session.manager.ready());
        const std::string result = InChild([&] {
            session.enter();
            auto starter = std::make_unique<PosixPrograms>(SELVATRO_HOLDER);
            starter->prepare(session.rec);
            if (c.then == Then::AnnouncedAgain) {
                starter->prepare(session.rec);
            }
            if (ReadCalls(session.log, c.then == Then::AnnouncedAgain ? 2 : 1).empty()) {
                return std::string("no request");
            }
            if (c.then == Then::StarterDropped) {
                starter.reset();
            } else if (c.then == Then::TimeIsUp) {
                std::this_thread::sleep_for(7s);  // past the few seconds a held program waits
            } else if (c.then == Then::AnnouncedAgain) {
                return std::to_string(static_cast<pid_t>(starter->start(session.rec)));
            }
            return std::string("ended");
        });
        const std::vector<Call> calls = ReadCalls(session.log, c.then == Then::AnnouncedAgain ? 2 : 1);
        ASSERT_FALSE(calls.empty()) << result;
        for (const Call& call : calls) {
            if (call.pids != result) {
                // Far sooner than its few seconds of waiting when its release channel is gone.
                EXPECT_TRUE(Ends(std::atoi(call.pids.c_str()), c.then == Then::TimeIsUp ? 10s : 3s)) << call.pids;
            }
        }
        std::this_thread::sleep_for(200ms);
        const std::string ran = ReadFile(session.launches).value_or("");
        if (c.then == Then::AnnouncedAgain) {
            // Only the second process ran the program, once.
            EXPECT_EQ(calls.size(), 2u);
            EXPECT_EQ(calls.back().pids, result);
            EXPECT_EQ(std::count(ran.begin(), ran.end(), '\n'), 1) << ran;
        } else {
            EXPECT_EQ(result, "ended");
            EXPECT_EQ(ran, "");
        }
    }
}

}  // namespace
}  // namespace selvatro::platform::posix
