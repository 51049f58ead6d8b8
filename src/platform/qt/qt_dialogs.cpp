#include "platform/qt/qt_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "platform/errors.h"

namespace selvatro::platform::qt {

void QtMessageBoxes::show(const std::string& text, platform::MessageStyle style, const std::string& title) {
    if (toStandardError_) {
        std::string line = text;
        std::replace(line.begin(), line.end(), '\n', ' ');
        std::fprintf(stderr, "selvatro: %s: %s\n", title.c_str(), line.c_str());
        std::fflush(stderr);
        return;
    }
    QMessageBox box(parent_);
    box.setWindowTitle(QString::fromStdString(title));
    box.setTextFormat(Qt::PlainText);  // a path with "<" in it is text, not markup
    box.setText(QString::fromStdString(text));
    box.setIcon(style == platform::MessageStyle::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    gate_.runModal([&] { box.exec(); });
}

bool QtMessageBoxes::ask(const std::string& question, const std::string& title) {
    if (toStandardError_) {
        std::fprintf(stderr, "selvatro: %s: %s\n", title.c_str(), question.c_str());
        std::fflush(stderr);
        return false;
    }
    QMessageBox box(parent_);
    box.setWindowTitle(QString::fromStdString(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(question));
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    int answer = QMessageBox::No;
    gate_.runModal([&] { answer = box.exec(); });
    return answer == QMessageBox::Yes;
}

std::vector<NameFilter> NameFilters(const std::vector<FilterEntry>& filter) {
    std::vector<NameFilter> filters;
    for (const FilterEntry& entry : filter) {
        const QString label = QString::fromStdString(entry.label).trimmed();
        QStringList patterns = QString::fromStdString(entry.pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
        }
        // Programs on this desktop carry no .exe ending: the entry lists what the user may execute instead.
        const bool executableOnly = patterns.contains(QStringLiteral("*.exe"), Qt::CaseInsensitive);
        if (executableOnly) {
            patterns = QStringList{QStringLiteral("*")};
        }
        // Qt reads the patterns from the last parentheses; with the details hidden, the label shows as written.
        filters.push_back(
            {label + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'), executableOnly});
    }
    return filters;
}

namespace {

// Keeps the folders and, while the executable entry is chosen, only the files that the user may execute.
class ExecutableFilter final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setExecutableOnly(bool executableOnly) {
        if (executableOnly != executableOnly_) {
            executableOnly_ = executableOnly;
            invalidateFilter();
        }
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        if (!executableOnly_) {
            return true;
        }
        const auto* files = dynamic_cast<const QFileSystemModel*>(sourceModel());
        if (files == nullptr) {
            return true;
        }
        const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || info.isExecutable();
    }

private:
    bool executableOnly_ = false;
};

}  // namespace

std::optional<std::string> ShowOpenDialog(QWidget* parent, const OpenRequest& request) {
    QFileDialog dialog(parent, QString::fromStdString(request.title));
    // Qt's own dialog: the platform's may ignore the proxy model that picks the executable files.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    auto* proxy = new ExecutableFilter(&dialog);
    dialog.setProxyModel(proxy);

    const std::vector<NameFilter> filters = NameFilters(request.filter);
    QStringList qtFilters;
    for (const NameFilter& f : filters) {
        qtFilters << f.qtFilter;
    }
    if (!qtFilters.isEmpty()) {
        dialog.setNameFilters(qtFilters);
        const std::size_t chosen =
            request.filterIndex >= 1 && static_cast<std::size_t>(request.filterIndex) <= filters.size()
                ? static_cast<std::size_t>(request.filterIndex - 1)
                : 0;
        dialog.selectNameFilter(filters.at(chosen).qtFilter);
        proxy->setExecutableOnly(filters.at(chosen).executableOnly);
    }
    QObject::connect(&dialog, &QFileDialog::filterSelected, proxy, [proxy, filters](const QString& selected) {
        bool executableOnly = false;
        for (const NameFilter& f : filters) {
            if (f.qtFilter == selected) {
                executableOnly = f.executableOnly;
            }
        }
        proxy->setExecutableOnly(executableOnly);
    });
    if (!request.places.empty()) {
        QList<QUrl> places = dialog.sidebarUrls();
        for (const std::string& folder : request.places) {
            places << QUrl::fromLocalFile(QString::fromStdString(folder));
        }
        dialog.setSidebarUrls(places);
    }
    // The picker has just made the row's folder current: the dialog starts there, not where it was last.
    dialog.setDirectory(QDir::currentPath());

    const int result = dialog.exec();
    const QStringList chosen = dialog.selectedFiles();
    if (result == QDialog::Accepted && !chosen.isEmpty()) {
        return chosen.first().toStdString();
    }
    return std::nullopt;
}

}  // namespace selvatro::platform::qt
