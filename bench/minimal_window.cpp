// The yardstick for Selvatro: a bare Qt window with the same widgets (ten line edits, two labels, a frame holding a
// 300 x 40 picture), created minimised, and nothing else.
//
//   minimal_window
//       waits until SIGTERM ends it: the cold-start yardstick.
//   minimal_window --run SAVE_FILE DELAY PROGRAM [DELAY PROGRAM ...]
//       does Selvatro's job in the plainest way the toolkit allows: a precise 1000 ms timer started when the
//       window is first shown; each tick sets the caption to "<n> sec." and starts, with posix_spawn in a session
//       of its own, the programs whose delay equals the count; the tick after the last delay writes five list
//       records to SAVE_FILE (temporary file, fsync, rename, fsync of the folder) and ends the process at once.
//       The yardstick for the launch instants, the CPU time between ticks and the time to quit.
//   minimal_window --no-caption --run ...
//       the same without changing the caption: what the ticks cost without the window manager's round trip.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Row {
    int delay;
    std::string program;
};

void Spawn(const std::string& program) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
}

void SaveDurably(const std::string& path, const std::string& text) {
    const std::string folder = path.substr(0, path.rfind('/'));
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) || fsync(fd) != 0 ||
        close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        std::_Exit(1);
    }
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    fsync(folderFd);
    close(folderFd);
}

class Window final : public QWidget {
public:
    Window(std::string saveFile, std::vector<Row> rows, bool caption)
        : saveFile_(std::move(saveFile)), rows_(std::move(rows)), caption_(caption) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1000);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }

protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        if (!rows_.empty() && !timer_.isActive()) {
            timer_.start();
        }
    }

private:
    void tick() {
        ++count_;
        if (caption_) {
            setWindowTitle(QString::number(count_) + QStringLiteral(" sec."));
        }
        int last = 0;
        for (const Row& row : rows_) {
            if (row.delay == count_) {
                Spawn(row.program);
            }
            last = row.delay;
        }
        if (count_ > last) {
            std::string text;
            for (std::size_t i = 0; i < 5; ++i) {
                text += i < rows_.size() ? "\"" + rows_[i].program + "\",\"" + std::to_string(rows_[i].delay) + "\"\r\n"
                                         : std::string("\"\",\"\"\r\n");
            }
            SaveDurably(saveFile_, text);
            std::_Exit(0);
        }
    }

    std::string saveFile_;
    std::vector<Row> rows_;
    bool caption_;
    QTimer timer_;
    int count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    std::string saveFile;
    std::vector<Row> rows;
    int at = 1;
    const bool caption = !(argc > at && std::string(argv[at]) == "--no-caption");
    if (!caption) {
        ++at;
    }
    if (argc >= at + 2 && std::string(argv[at]) == "--run") {
        saveFile = argv[at + 1];
        for (int i = at + 2; i + 1 < argc; i += 2) {
            rows.push_back({std::atoi(argv[i]), argv[i + 1]});
        }
    }
    QApplication app(argc, argv);
    Window window(saveFile, rows, caption);
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.setFixedSize(356, 200);
    for (int i = 0; i < 2; ++i) {
        (new QLabel(QStringLiteral("Heading"), &window))->setGeometry(8 + 228 * i, 0, 117, 21);
    }
    for (int row = 0; row < 5; ++row) {
        (new QLineEdit(&window))->setGeometry(4, 22 + 26 * row, 317, 23);
        (new QLineEdit(&window))->setGeometry(324, 22 + 26 * row, 27, 23);
    }
    auto* frame = new QFrame(&window);
    frame->setGeometry(4, 156, 349, 41);
    QPixmap picture(300, 40);
    picture.fill(Qt::darkBlue);
    auto* logo = new QLabel(frame);
    logo->setGeometry(0, -4, 385, 41);
    logo->setPixmap(picture);
    logo->setScaledContents(true);
    window.showMinimized();
    return QApplication::exec();
}
