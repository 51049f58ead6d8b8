// The file-open dialog: its filter entries, where it opens, what it lists and what a cancel does; and the
// user's language.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QTimer>

#include "platform/errors.h"
#include "platform/qt/qt_dialogs.h"
#include "platform/qt/qt_services.h"
#include "recorder.h"

namespace selvatro::platform::qt::test {
namespace {

constexpr const char* kPickerFilter =
    "Executable(*.exe)|*.exe|Batch Files (*.bat)|*.bat|Command(*.cmd)|*.cmd|Command(*.com)|*.com";

TEST(FileDialog, FilterEntriesKeepTheirLabelsAndTheExecutableEntryListsPrograms) {
    const std::vector<NameFilter> filters = NameFilters(SplitFilter(kPickerFilter));
    ASSERT_EQ(filters.size(), 4u);
    const std::pair<const char*, bool> expected[] = {{"Executable(*.exe) (*)", true},
                                                     {"Batch Files (*.bat) (*.bat)", false},
                                                     {"Command(*.cmd) (*.cmd)", false},
                                                     {"Command(*.com) (*.com)", false}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(filters[i].qtFilter, QString(expected[i].first));
        EXPECT_EQ(filters[i].executableOnly, expected[i].second);
    }
    EXPECT_EQ(NameFilters(SplitFilter("Texts|*.txt;*.md|Dangling")).size(), 1u);
    EXPECT_EQ(NameFilters(SplitFilter("Texts|*.txt;*.md"))[0].qtFilter, QString("Texts (*.txt *.md)"));
    EXPECT_TRUE(NameFilters(SplitFilter("")).empty());
}

class PickerDialog : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        make("tool", true);
        make("notes.txt", false);
        make("start.bat", false);
        make("run.cmd", false);
        ASSERT_TRUE(QDir(folder.path()).mkdir("sub"));
        saved = QDir::currentPath();
        QDir::setCurrent(folder.path());
        dialog.setTitle("Choose the application to be started");
        dialog.setCancelError(true);
        dialog.setFlags(4);
        dialog.setFilter(kPickerFilter);
    }
    void TearDown() override { QDir::setCurrent(saved); }

    void make(const QString& name, bool executable) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        file.setPermissions(executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                       : QFile::ReadOwner | QFile::WriteOwner);
    }

    // Once the dialog has listed its folder: what it shows, then `answer` decides how it closes.
    void whenListed(std::function<void(QFileDialog*, QStringList)> answer) {
        QTimer::singleShot(0, [this, answer] {
            auto* shown = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(shown, nullptr);
            title = shown->windowTitle();
            directory = shown->directory().absolutePath();
            auto* view = shown->findChild<QListView*>("listView");
            ASSERT_NE(view, nullptr);
            // The folder is read in the background: wait until its sub-folder shows.
            QStringList names;
            for (int wait = 0; wait < 250 && !names.contains("sub"); ++wait) {
                QTest::qWait(20);
                names = Names(view);
            }
            EXPECT_TRUE(names.contains("sub")) << names.join(",").toStdString();
            answer(shown, names);
        });
    }
    static QStringList Names(QListView* view) {
        QStringList names;
        const QAbstractItemModel* model = view->model();
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < model->rowCount(root); ++row) {
            names << model->index(row, 0, root).data().toString();
        }
        names.sort();
        return names;
    }

    QTemporaryDir folder;
    QString saved;
    Rig rig;
    FileDialog& dialog = rig.controls.commonDialog1;
    QString title, directory;
};

TEST_F(PickerDialog, OpensInTheCurrentFolderListingProgramsAndReturnsTheChosenPath) {
    QStringList listed;
    dialog.setFilterIndex(1);
    whenListed([&](QFileDialog* shown, QStringList names) {
        listed = names;
        auto* name = shown->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText("tool");  // as the user types it
        static_cast<QDialog*>(shown)->accept();
    });
    dialog.showOpen();
    EXPECT_EQ(title, QString("Choose the application to be started"));
    EXPECT_EQ(directory, QDir(folder.path()).absolutePath());
    EXPECT_EQ(listed, (QStringList{"sub", "tool"}));
    EXPECT_EQ(dialog.fileName(), folder.filePath("tool").toStdString());
}

TEST_F(PickerDialog, OtherEntriesKeepTheirPatterns) {
    QStringList listed;
    dialog.setFilterIndex(2);
    whenListed([&](QFileDialog* shown, QStringList names) {
        listed = names;
        shown->reject();
    });
    dialog.setCancelError(false);
    dialog.showOpen();
    EXPECT_EQ(listed, (QStringList{"start.bat", "sub"}));
    EXPECT_EQ(dialog.fileName(), "") << "a cancel without the error leaves no file name";
}

TEST_F(PickerDialog, CancelIsAnErrorWhenAskedFor) {
    whenListed([](QFileDialog* shown, QStringList) { shown->reject(); });
    EXPECT_THROW(dialog.showOpen(), platform::DialogCancelled);
}

TEST(Language, NamesTheSystemLanguageInEnglishOrNothing) {
    QtLanguage language;
    std::string buffer(20, 'x');
    language.englishLanguageName(buffer, 19);
    const QLocale::Language system = QLocale::system().language();
    if (system == QLocale::C) {
        EXPECT_EQ(buffer, std::string(20, 'x'));
    } else {
        const std::string name = QLocale::languageToString(system).toStdString();
        EXPECT_EQ(buffer.substr(0, buffer.find('\0')), name.substr(0, 18));
    }
    std::string tiny(3, 'x');
    language.englishLanguageName(tiny, 1);
    EXPECT_TRUE(tiny == "xxx" || tiny == std::string("\0xx", 3)) << "one character of room holds only the NUL";
    EXPECT_FALSE(language.decimalSeparator().empty());
}

}  // namespace
}  // namespace selvatro::platform::qt::test
