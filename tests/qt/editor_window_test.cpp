// The list editor in the real window: Form1 on the Qt window and dialogs, driven through the real line edits with
// clicks and keystrokes. Typing into a delay box and leaving it, the program picker behind a click on a path box
// (the real file dialog and message box, answered from inside their own event loops), and a list loaded with a gap.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <ostream>
#include <utility>

#include "app/form1.h"
#include "fake/fake_desktop.h"
#include "list/list_file.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_window.h"
#include "recorder.h"

namespace selvatro::platform::qt::test {
namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

// Answers the next modal widget of type T from inside its own event loop, once it is up, as the user would.
template <typename T>
class Answer {
public:
    explicit Answer(std::function<void(T*)> answer) : answer_(std::move(answer)) {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* shown = qobject_cast<T*>(QApplication::activeModalWidget());
            if (shown == nullptr || done_) {
                return;
            }
            poll_.stop();
            done_ = true;
            answer_(shown);
        });
        poll_.start(5);
    }
    bool done() const { return done_; }

private:
    std::function<void(T*)> answer_;
    QTimer poll_;
    bool done_ = false;
};

// Types `file` into the dialog's name box and confirms, or cancels when the box is missing, so the dialog always
// closes.
void Choose(QFileDialog* dialog, const QString& file) {
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    if (name == nullptr) {
        ADD_FAILURE() << "the dialog has no file name box";
        dialog->reject();
        return;
    }
    name->setText(file);
    static_cast<QDialog*>(dialog)->accept();
}

class EditorWindow : public testing::Test {
protected:
    void SetUp() override {
        savedFolder = QDir::currentPath();
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(QDir(folder.path()).mkdir("bin"));
        bin = QDir(folder.filePath("bin")).canonicalPath();
        for (const char* name : {"tool", "other", "selvatro", "MonSelvatro"}) {
            QFile file(bin + "/" + name);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\n");
            file.close();
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        gate.setFatalHandler([this](const std::string& what) { fatal.push_back(what); });
        // The real file dialog opens in the process's current folder, where the picker's preset must land.
        files.movesProcess = true;
    }

    void TearDown() override {
        QDir::setCurrent(savedFolder);
        EXPECT_TRUE(fatal.empty()) << fatal.front();
        EXPECT_TRUE(programs.started.empty()) << "started " << programs.started.front().path << " while editing";
    }

    /// The program `name` in the test's folder, as the dialog names it.
    std::string program(const char* name) const { return (bin + "/" + name).toStdString(); }

    /// Starts the window as the program does, with `rows` in the list file, then restores it for editing.
    void open(const Rows& rows) {
        std::string text;
        for (const auto& [path, delay] : rows) {
            text += list::Record(path, delay);
        }
        files.files[facts.folder() + "/" + std::string(list::kListFileName)] = text;
        form = std::make_unique<Form1>(
            driver.controls(),
            platform::Services{messages, facts, programs, files, language, shortcuts, browser, process, logonEntries});
        gate.connect(*form);
        gate.raise([](platform::FormEvents& events) { events.Form_Load(); });
        driver.setWindowState(platform::WindowState::Normal);
        driver.showInState();
        activate();
    }

    /// Gives the window the focus back, as the window manager does after a dialog of ours has closed.
    void activate() {
        window.widget()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.widget()));
    }

    QLineEdit* path(int row) { return window.edit({true, row}); }
    QLineEdit* delay(int row) { return window.edit({false, row}); }
    QWidget* focused() const { return window.widget()->focusWidget(); }

    /// The rows as the line edits show them, "path/delay|...", an empty box as "" and the test's folder left out.
    std::string rows() {
        auto shown = [&](const QLineEdit* box) {
            QString text = box->text();
            text.replace(bin + "/", "");
            return text.isEmpty() ? std::string("\"\"") : text.toStdString();
        };
        std::string all;
        for (int row = 0; row < 5; ++row) {
            all += (row == 0 ? "" : "|") + shown(path(row)) + "/" + shown(delay(row));
        }
        return all;
    }

    /// Clicks into a delay box, selects its text with the keyboard and types `keys` over it.
    void typeOver(QLineEdit* box, const QString& keys) {
        QTest::mouseClick(box, Qt::LeftButton);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        if (keys.isEmpty()) {
            QTest::keyClick(box, Qt::Key_Delete);
        } else {
            QTest::keyClicks(box, keys);
        }
    }

    /// Clicks path box `row`: the press moves the focus into it, the release raises the click that opens the
    /// picker. `beforeRelease` runs in between.
    void clickPath(int row, const std::function<void()>& beforeRelease = {}) {
        QTest::mousePress(path(row), Qt::LeftButton);
        if (beforeRelease) {
            beforeRelease();
        }
        QTest::mouseRelease(path(row), Qt::LeftButton);
    }

    /// Puts a delay into row 3, which has no program: from then on only a clearing sweep removes it.
    void strayDelay() { driver.controls().text2.at(3)->setText("9"); }

    void tab() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }

    QString savedFolder;
    QTemporaryDir folder;
    QString bin;
    std::vector<std::string> fatal;

    // The desktop services around the window, from the test platform: only the window and its dialogs are real.
    fake::Profile profile;
    fake::FakeAppFacts facts{profile};
    fake::FakePrograms programs;
    fake::FakeFiles files{profile};
    fake::FakeLanguage language{profile};
    fake::FakeShortcuts shortcuts;
    fake::FakeBrowser browser{files};
    fake::FakeProcess process;
    fake::FakeLogonEntries logonEntries;
    // The form outlives the window, so that nothing the window's teardown raises reaches a form already gone.
    std::unique_ptr<Form1> form;
    EventGate gate;
    WindowDriver driver{gate, selvatro::window::kDesign};
    FormWindow window{driver, selvatro::window::kDesign};
    QtMessageBoxes messages{gate, window.widget()};
};

// ---- delays typed and left ----

TEST_F(EditorWindow, ADelayTypedBelowThePreviousRowsIsRaisedAtOnce) {
    open({{"A", "10"}, {"B", "20"}});
    ASSERT_EQ(rows(), R"(A/10|B/20|""/""|""/""|""/"")");
    // Typed over, replaced by a letter, deleted: each reads as no more than row 0's delay.
    for (const QString keys : {"5", "x", ""}) {
        driver.controls().text2.at(1)->setText("20");
        typeOver(delay(1), keys);
        EXPECT_EQ(rows(), R"(A/10|B/11|""/""|""/""|""/"")") << "typed: " << keys.toStdString();
        EXPECT_EQ(QApplication::focusWidget(), delay(1)) << "the rule moved the focus";
    }
    // The next keystroke goes on from the raised text, which is raised no further.
    QTest::keyClick(delay(1), Qt::Key_End);
    QTest::keyClicks(delay(1), "4");
    EXPECT_EQ(rows(), R"(A/10|B/114|""/""|""/""|""/"")");
}

TEST_F(EditorWindow, RowZeroIsLoweredAtOnceWhenAboveRowOneAndWhenEqualOnlyOnceTheFocusLeaves) {
    open({{"A", "10"}, {"B", "20"}});
    typeOver(delay(0), "25");
    EXPECT_EQ(rows(), R"(A/19|B/20|""/""|""/""|""/"")");
    typeOver(delay(0), "20");
    EXPECT_EQ(rows(), R"(A/20|B/20|""/""|""/""|""/"")") << "an equal delay waits for the sweep";
    tab();
    EXPECT_EQ(QApplication::focusWidget(), path(1));
    EXPECT_EQ(rows(), R"(A/19|B/20|""/""|""/""|""/"")");
}

TEST_F(EditorWindow, LeavingADelayBoxWithNoRoomToLowerKeepsTheDelays) {
    open({{"A", "5"}, {"B", "6"}, {"M", "6"}});
    QTest::mouseClick(delay(2), Qt::LeftButton);
    QSignalSpy row1(delay(1), &QLineEdit::textChanged);
    tab();
    EXPECT_EQ(rows(), R"(A/5|B/6|M/6|""/""|""/"")");
    // The sweep did run: row 1 went down to 5 and straight back up to 6. The raise runs nested inside the
    // lowering's signal, so a listener connected after the form's hears the two in reverse.
    ASSERT_EQ(row1.count(), 2);
    EXPECT_EQ(QStringList({row1.at(0).at(0).toString(), row1.at(1).at(0).toString()}), QStringList({"6", "5"}));
}

TEST_F(EditorWindow, ADelayTypedIntoARowWithoutAProgramActsOnlyWhenTheFocusLeaves) {
    open({{"A", "10"}});
    typeOver(delay(1), "3");
    EXPECT_EQ(rows(), R"(A/10|""/3|""/""|""/""|""/"")");
    tab();
    EXPECT_EQ(QApplication::focusWidget(), path(2));
    EXPECT_EQ(rows(), R"(A/2|""/""|""/""|""/""|""/"")");
}

// ---- the program picker ----

TEST_F(EditorWindow, CancellingThePickerLeavesTheRowAndTheFocusInThePathBox) {
    open({{program("tool"), "5"}, {program("other"), "6"}});
    QTest::mouseClick(delay(0), Qt::LeftButton);
    std::string openedIn;
    Answer<QFileDialog> cancel([&](QFileDialog* shown) {
        openedIn = shown->directory().canonicalPath().toStdString();
        shown->reject();
    });
    clickPath(1, [&] { strayDelay(); });
    ASSERT_TRUE(cancel.done()) << "no file dialog opened";
    EXPECT_EQ(openedIn, bin.toStdString()) << "the dialog opens in the folder of the row's program";
    EXPECT_EQ(rows(), R"(tool/5|other/6|""/""|""/9|""/"")");
    EXPECT_EQ(focused(), path(1));
    activate();
    EXPECT_EQ(QApplication::focusWidget(), path(1));
    EXPECT_EQ(rows(), R"(tool/5|other/6|""/""|""/9|""/"")") << "the dialog's coming and going is no move in the window";
    EXPECT_EQ(QDir::currentPath().toStdString(), bin.toStdString()) << "the preset folder stays current";
}

TEST_F(EditorWindow, ChoosingAProgramSetsThePathAndMovesTheFocusToTheRowsDelayBox) {
    open({{program("tool"), "5"}});

    // A row with a program: the dialog opens beside it and the choice replaces it.
    std::string openedIn;
    Answer<QFileDialog> replace([&](QFileDialog* shown) {
        openedIn = shown->directory().canonicalPath().toStdString();
        Choose(shown, bin + "/other");
    });
    clickPath(0, [&] { strayDelay(); });
    ASSERT_TRUE(replace.done()) << "no file dialog opened";
    EXPECT_EQ(openedIn, bin.toStdString());
    EXPECT_EQ(focused(), delay(0));
    EXPECT_EQ(rows(), R"(other/5|""/""|""/""|""/""|""/"")") << "the clearing sweep ran when the focus moved";
    activate();
    EXPECT_EQ(QApplication::focusWidget(), delay(0));

    // An empty row below an empty row: the dialog opens at the root, the path climbs to row 1 with a proposed
    // delay, and the sweep raised by the focus move clears the proposals left in rows 2 and 3.
    Answer<QFileDialog> add([&](QFileDialog* shown) {
        openedIn = shown->directory().canonicalPath().toStdString();
        Choose(shown, bin + "/tool");
    });
    QSignalSpy row3(delay(3), &QLineEdit::textChanged);
    clickPath(3);
    ASSERT_TRUE(add.done()) << "no file dialog opened";
    EXPECT_EQ(openedIn, "/");
    EXPECT_EQ(focused(), delay(3));
    EXPECT_EQ(rows(), R"(other/5|tool/6|""/""|""/""|""/"")");
    // The proposal that the move-up left in row 3 stood until the sweep cleared it.
    ASSERT_GE(row3.count(), 2);
    EXPECT_EQ(row3.at(row3.count() - 2).at(0).toString(), QString("8"));
    EXPECT_EQ(row3.at(row3.count() - 1).at(0).toString(), QString());
    activate();
    EXPECT_EQ(QApplication::focusWidget(), delay(3));
}

struct Refusal {
    const char* language;
    const char* file;
    const char* message;
};

void PrintTo(const Refusal& c, std::ostream* out) {
    *out << c.language;
}

class PickerRefusal : public EditorWindow, public testing::WithParamInterface<Refusal> {};

TEST_P(PickerRefusal, ChoosingThisProgramItselfIsRefusedWithAMessageAndEmptiesThePathBox) {
    const Refusal& c = GetParam();
    profile.language = c.language;
    open({{program("tool"), "5"}, {program("other"), "6"}});

    QString text, title;
    QMessageBox::Icon icon = QMessageBox::Warning;
    Answer<QFileDialog> chooseSelf([&](QFileDialog* shown) { Choose(shown, bin + "/" + c.file); });
    Answer<QMessageBox> close([&](QMessageBox* box) {
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        box->accept();
    });
    clickPath(1);
    ASSERT_TRUE(chooseSelf.done()) << "no file dialog opened";
    ASSERT_TRUE(close.done()) << "no message";
    EXPECT_EQ(text.toStdString(), c.message);
    EXPECT_EQ(title, QString("Selvatro"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(focused(), delay(1));
    EXPECT_EQ(rows(), R"(tool/5|""/""|""/""|""/""|""/"")") << "the program it held is gone too";
}

// Refused by name, whatever its case and whatever precedes it.
INSTANTIATE_TEST_SUITE_P(
    Languages, PickerRefusal,
    testing::Values(Refusal{"English", "selvatro", "Oh no ...\nThis would have cause a never ending loop."},
                    Refusal{"French", "MonSelvatro", "Ah non ...\nCeci causerait une boucle infinie."}));

// ---- loading ----

struct Gap {
    const char* name;
    Rows file;
    const char* shown;
};

void PrintTo(const Gap& c, std::ostream* out) {
    *out << c.name;
}

class LoadedGap : public EditorWindow, public testing::WithParamInterface<Gap> {};

TEST_P(LoadedGap, ClosesAsTheListIsLoaded) {
    open(GetParam().file);
    EXPECT_EQ(rows(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadedGap,
    testing::Values(
        Gap{"OneRow", {{"A", "5"}, {"", ""}, {"M", "15"}, {"", ""}, {"", ""}}, R"(A/5|M/6|""/""|""/""|""/"")"},
        // A gap of two rows leaves a proposal in a row without a program, until a sweep.
        Gap{"TwoRows", {{"A", "5"}, {"", ""}, {"", ""}, {"M", "15"}, {"", ""}}, R"(A/5|M/6|""/7|""/""|""/"")"}));

}  // namespace
}  // namespace selvatro::platform::qt::test
