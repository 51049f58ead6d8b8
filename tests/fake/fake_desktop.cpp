#include "fake/fake_desktop.h"

#include <algorithm>
#include <filesystem>

#include "platform/errors.h"
#include "platform/text_rules.h"
#include "window/layout.h"

namespace selvatro::fake {

// ---- controls ----

// The core's side of this box: the window driver's.
platform::TextBox& FakeTextBox::core() const {
    const platform::Controls controls = desktop_.driver_.controls();
    return *(id_.isPath ? controls.text1 : controls.text2).at(static_cast<std::size_t>(id_.row));
}

void FakeTextBox::setText(const std::string& text) {
    core().setText(text);
}

void FakeTextBox::setTip(const std::string& tip) {
    tip_ = tip;
}

void FakeTextBox::setFocus() {
    core().setFocus();
}

void FakeTextBox::setSelectionLength(int length) {
    desktop_.selectFromCaret(id_, length);
}

platform::WindowState FakeWindow::windowState() const {
    return desktop_.driver_.windowState();
}

void FakeWindow::setWindowState(platform::WindowState state) {
    desktop_.driver_.setWindowState(state);
}

bool FakeTimer::isEnabled() const {
    return desktop_.driver_.controls().timer1.isEnabled();
}

void FakeFileDialog::setFlags(std::int32_t flags) {
    desktop_.driver_.controls().commonDialog1.setFlags(flags);
}

void FakeFileDialog::setFilterIndex(std::int16_t index) {
    desktop_.driver_.controls().commonDialog1.setFilterIndex(index);
}

const platform::OpenRequest& FakeFileDialog::settings() const {
    return desktop_.driver_.dialogSettings();
}

std::string FakeFileDialog::filter() const {
    std::string joined;
    for (const platform::FilterEntry& entry : settings().filter) {
        joined += (joined.empty() ? "" : "|") + entry.label + "|" + entry.pattern;
    }
    return joined;
}

void FakeMessageBoxes::show(const std::string& text, platform::MessageStyle style, const std::string& title) {
    const auto open = [&] {
        shown.push_back({text, style, title});
        if (whileOpen) {
            whileOpen();
        }
    };
    if (gate != nullptr) {
        gate->runModal(open);
    } else {
        open();
    }
}

bool FakeMessageBoxes::ask(const std::string& question, const std::string& /*title*/) {
    bool answer = true;
    const auto open = [&] {
        asked.push_back(question);
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
    };
    if (gate != nullptr) {
        gate->runModal(open);
    } else {
        open();
    }
    return answer;
}

// ---- services ----

std::optional<platform::LogonEntry> FakeLogonEntries::entryOf(const std::string& file) {
    const auto id = files.find(file);
    if (id == files.end()) {
        return std::nullopt;
    }
    return entries.at(id->second);
}

void FakeLogonEntries::takeOver(const platform::LogonEntry& entry) {
    if (switchFailure) {
        throw platform::FileError(*switchFailure);
    }
    entries.at(entry.id).state = platform::LogonEntry::State::OffBySelvatro;
    switches.push_back("off " + entry.id);
}

std::vector<platform::LogonEntry> FakeLogonEntries::takenOver() {
    std::vector<platform::LogonEntry> taken;
    for (const auto& [id, entry] : entries) {
        if (entry.state == platform::LogonEntry::State::OffBySelvatro) {
            taken.push_back(entry);
        }
    }
    return taken;
}

void FakeLogonEntries::giveBack(const platform::LogonEntry& entry) {
    if (switchFailure) {
        throw platform::FileError(*switchFailure);
    }
    platform::LogonEntry& now = entries.at(entry.id);
    if (now.state == platform::LogonEntry::State::OffBySelvatro) {
        now.state = platform::LogonEntry::State::On;
        switches.push_back("on " + entry.id);
    }
}

double FakePrograms::start(const std::string& path) {
    if (failing.count(path) != 0) {
        throw platform::StartFailed("cannot start " + path);
    }
    if (withdrawn.count(path) != 0) {
        throw platform::ProgramMissing(path + ": hidden");
    }
    started.push_back({path, clock_ ? clock_() : 0});
    return static_cast<double>(started.size());
}

std::optional<std::string> FakePrograms::shortcutTarget(const std::string& path) {
    const auto found = shortcuts.find(path);
    if (found == shortcuts.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<std::string> FakePrograms::startedPaths() const {
    std::vector<std::string> paths;
    for (const auto& s : started) {
        paths.push_back(s.path);
    }
    return paths;
}

bool FakeFiles::ordinaryFileExists(const std::string& path) {
    return files.count(path) != 0 && folders.count(path) == 0;
}

platform::FileText FakeFiles::readText(const std::string& path) {
    ++reads;
    using Status = platform::FileText::Status;
    const auto it = files.find(path);
    if (it == files.end() || folders.count(path) != 0) {
        return {Status::Absent, {}, {}, path};
    }
    if (unreadable.count(path) != 0) {
        return {Status::Unreadable, {}, "The file is in use by another program.", path};
    }
    return {Status::Read, it->second.substr(0, platform::kTextReadLimit), {}, path};
}

bool FakeFiles::folderWritable(const std::string& folder) {
    ++writabilityChecks;
    return readOnlyFolders.count(folder) == 0;
}

void FakeFiles::makeFolder(const std::string& folder) {
    if (writeFailure) {
        throw platform::FileError(*writeFailure);
    }
    madeFolders.push_back(folder);
}

void FakeFiles::replaceText(const std::string& path, const std::string& text, const std::string& readFrom) {
    if (writeFailure) {
        throw platform::FileError(*writeFailure);
    }
    ++writes;
    files[path] = text;
    encodingSources[path] = readFrom;
}

std::string FakeFiles::writeTemporaryText(const std::string& suffix, const std::string& text) {
    if (writeFailure) {
        throw platform::FileError(*writeFailure);
    }
    const std::string name = "/tmp/selvatro-" + std::to_string(++temporaries_) + suffix;
    files[name] = text;
    return name;
}

void FakeFiles::remove(const std::string& path) {
    files.erase(path);
}

void FakeFiles::setCurrentDrive(const std::string& path) {
    driveRequests.push_back(path);
}

void FakeFiles::setCurrentFolder(const std::string& folder) {
    folderRequests.push_back(folder);
    if (missingFolders.count(folder) != 0) {
        throw platform::FileError("no such folder: " + folder);
    }
    if (movesProcess) {
        std::error_code error;
        std::filesystem::current_path(folder, error);
        if (error) {
            throw platform::FileError("no such folder: " + folder);
        }
    }
    currentFolder = folder;
}

void FakeLanguage::englishLanguageName(std::string& buffer, int size) {
    if (!profile_.language) {
        return;
    }
    const std::string& name = *profile_.language;
    const std::size_t room = static_cast<std::size_t>(std::max(0, size));
    const std::size_t n = std::min(name.size(), room > 0 ? room - 1 : 0);
    std::copy_n(name.begin(), n, buffer.begin());
    if (room > 0) {
        buffer[n] = '\0';
    }
}

std::int32_t FakeShortcuts::createShellLink(const std::string& folder, const std::string& linkName,
                                            const std::string& target, const std::string& arguments) {
    made.push_back({folder, linkName, target, arguments});
    return result;
}

std::int32_t FakeBrowser::findExecutable(const std::string& file, const std::string& /*folder*/, std::string& result) {
    lookups.emplace_back(file, files_.ordinaryFileExists(file));
    const std::size_t size = result.size();
    const std::string found = browserPath.value_or(std::string());
    result = found.substr(0, size > 0 ? size - 1 : 0);
    result += '\0';
    result.resize(std::max(size, result.size()), ' ');
    return browserPath ? 42 : 31;
}

std::int32_t FakeBrowser::shellExecute(const std::string& operation, const std::string& command,
                                       const std::string& parameters, const std::string& folder,
                                       std::int32_t showState) {
    starts.push_back({operation, command, parameters, folder, showState});
    return startResult;
}

void FakeProcess::end(int status) {
    ended = true;
    exitStatus = status;
    throw ProcessEnded{};
}

// ---- the desktop ----

FakeDesktop::FakeDesktop(Profile profile)
    : driver_(gate_, window::kDesign),
      window(*this),
      heading0(std::string(window::kDesign.headingCaptions[0])),
      heading1(std::string(window::kDesign.headingCaptions[1])),
      timer(*this),
      dialog(*this),
      facts(profile_),
      programs([this] { return nowMs_; }),
      files(profile_),
      language(profile_),
      browser(files),
      process([this] { return nowMs_; }),
      profile_(std::move(profile)) {
    for (int row = 0; row < platform::kRowCount; ++row) {
        text1.push_back(
            std::make_unique<FakeTextBox>(*this, platform::BoxId{true, row}, std::string(window::kDesign.text1Tip)));
        text2.push_back(
            std::make_unique<FakeTextBox>(*this, platform::BoxId{false, row}, std::string(window::kDesign.text2Tip)));
    }
    driver_.attach(*this);
    messages.gate = &gate_;
    if (profile_.separator == '\\') {
        programs.pattern = "*.lnk";
    }
    platform::Services services{messages, facts, programs, files, language, shortcuts, browser, process, logonEntries};
    form_ = std::make_unique<Form1>(driver_.controls(), services);
    gate_.connect(*form_);
    // An error that escapes an event of the loop ends the process, as on a real desktop; ending it is how the
    // process's own end leaves the loop, which is no error.
    gate_.setFatalHandler([this](const std::string& what) {
        if (process.ended || runaway_) {
            return;
        }
        unhandled_.push_back(what);
        process.ended = true;
        process.exitStatus = 1;
    });
}

FakeDesktop::~FakeDesktop() = default;

void FakeDesktop::dispatch(const std::function<void()>& event) {
    if (process.ended) {
        return;
    }
    changesThisCall_ = 0;
    try {
        event();
    } catch (const ProcessEnded&) {
        // The process is gone: the event loop stops here, as it would on a real desktop.
    }
    if (runaway_) {
        runaway_ = false;
        throw RunawayChain{};
    }
}

FakeTextBox& FakeDesktop::boxOf(platform::BoxId box) const {
    return *(box.isPath ? text1 : text2).at(static_cast<std::size_t>(box.row));
}

void FakeDesktop::changeText(FakeTextBox& box, const std::string& text) {
    box.text_ = text;
    box.selectionStart_ = std::min(box.selectionStart_, static_cast<int>(platform::CharacterCount(text)));
    box.selectionLength_ = 0;
    if (changeDepth_ >= maxChainDepth || ++changesThisCall_ > maxChangesPerCall) {
        runaway_ = true;  // a rule that sets itself off without end: stopped here, failed by dispatch
        throw RunawayChain{};
    }
    ++changeDepth_;
    deepestChain = std::max(deepestChain, changeDepth_);
    busiestCall = std::max(busiestCall, changesThisCall_);
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{changeDepth_};
    driver_.textChanged(box.id());
}

void FakeDesktop::putText(platform::BoxId box, const std::string& text) {
    changeText(boxOf(box), text);
}

void FakeDesktop::moveFocus(FakeTextBox* box) {
    if (box == focused_) {
        return;
    }
    if (changeDepth_ > 0) {
        ++focusMovesInChanges;
    }
    FakeTextBox* had = focused_;
    focused_ = box;
    if (!active_) {
        return;  // an inactive window's toolkit records the new focus and reports nothing
    }
    if (had != nullptr) {
        driver_.focusLost(had->id());
        ++sweeps;
        if (afterSweep) {
            afterSweep();
        }
    }
    driver_.focusGained(box != nullptr ? std::optional<platform::BoxId>(box->id()) : std::nullopt);
}

void FakeDesktop::selectFromCaret(platform::BoxId id, int length) {
    FakeTextBox& box = boxOf(id);
    const int available = static_cast<int>(platform::CharacterCount(box.text_)) - box.selectionStart_;
    box.selectionLength_ = std::clamp(length, 0, std::max(0, available));
}

void FakeDesktop::setCaption(const std::string& caption) {
    window.captions_.push_back(caption);
}

void FakeDesktop::showFirst(platform::WindowState state) {
    window.state_ = state;
}

void FakeDesktop::changeState(platform::WindowState state) {
    window.state_ = state;
    driver_.stateChanged();
}

void FakeDesktop::runTimer(bool running) {
    timer.running_ = running;
    if (running) {
        timer.nextTickAt_ = nowMs_ + window::kDesign.timerIntervalMs;
    }
}

std::optional<std::string> FakeDesktop::openDialog(const platform::OpenRequest& request) {
    ++dialog.timesShown_;
    (void)request;  // what it was set up with stays readable in the driver's settings
    dialog.openedIn_ = files.currentFolder;
    if (dialog.failToShow) {
        throw platform::ControlError("the dialog cannot be shown");
    }
    std::optional<std::string> answer;
    if (!dialog.answers.empty()) {
        answer = dialog.answers.front();
        dialog.answers.pop_front();
    }
    return answer;
}

void FakeDesktop::start() {
    dispatch([this] {
        gate_.raise([](platform::FormEvents& e) { e.Form_Load(); });
        if (!process.ended) {
            driver_.showInState();
        }
    });
}

void FakeDesktop::advance(std::int64_t ms) {
    const std::int64_t until = nowMs_ + ms;
    while (!process.ended && timer.running_ && timer.nextTickAt_ <= until) {
        nowMs_ = timer.nextTickAt_;
        timer.nextTickAt_ = nowMs_ + window::kDesign.timerIntervalMs;
        // A tick due inside another, or behind a dialog of ours, is dropped by the gate.
        dispatch([this] { driver_.tickDue(); });
    }
    nowMs_ = std::max(nowMs_, until);
}

void FakeDesktop::type(FakeTextBox& box, const std::string& text) {
    focus(box);
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = 1;
        while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) {
            ++n;
        }
        const std::string next = box.text() + text.substr(i, n);
        edit(box, next);
        i += n;
    }
}

void FakeDesktop::edit(FakeTextBox& box, const std::string& text) {
    focus(box);
    dispatch([&] {
        if (text != box.text_) {
            changeText(box, text);  // one user edit: the change event runs once
        }
    });
}

void FakeDesktop::focus(FakeTextBox& box) {
    dispatch([&] { moveFocus(&box); });
}

void FakeDesktop::focusElsewhere() {
    dispatch([&] { moveFocus(nullptr); });
}

void FakeDesktop::clickPathBox(int row) {
    focus(*text1.at(static_cast<std::size_t>(row)));
    dispatch([&] { driver_.clicked(platform::Pointed::Text1, row); });
}

void FakeDesktop::minimise() {
    dispatch([&] {
        window.state_ = platform::WindowState::Minimised;
        driver_.stateChanged();
    });
}

void FakeDesktop::restore() {
    dispatch([&] {
        window.state_ = platform::WindowState::Normal;
        driver_.stateChanged();
    });
}

void FakeDesktop::close() {
    dispatch([&] { driver_.requestUnload(); });
}

void FakeDesktop::clickLogo() {
    dispatch([&] { driver_.clicked(platform::Pointed::Logo); });
}

void FakeDesktop::mouseOverBackground() {
    dispatch([&] { driver_.mouseMoved(platform::Pointed::Background); });
}

void FakeDesktop::mouseOverLogo() {
    dispatch([&] { driver_.mouseMoved(platform::Pointed::Logo); });
}

void FakeDesktop::mouseOverText1(int row) {
    dispatch([&] { driver_.mouseMoved(platform::Pointed::Text1, row); });
}

void FakeDesktop::mouseOverText2(int row) {
    dispatch([&] { driver_.mouseMoved(platform::Pointed::Text2, row); });
}

void FakeDesktop::mouseOverHeading(int index) {
    dispatch([&] { driver_.mouseMoved(platform::Pointed::Heading, index); });
}

std::string FakeDesktop::row(int i) const {
    const auto at = static_cast<std::size_t>(i);
    return text1.at(at)->text() + "/" + text2.at(at)->text();
}

std::string FakeDesktop::rows() const {
    std::string all = row(0);
    for (int i = 1; i < 5; ++i) {
        // Appended in two steps: GCC 12 at -O3 takes "|" + row(i) for an overlapping copy (-Wrestrict).
        all += '|';
        all += row(i);
    }
    return all;
}

std::string FakeDesktop::listFile() const {
    return profile_.folder + profile_.separator + "selvatro.cfg";
}

void FakeDesktop::writeList(const std::vector<std::pair<std::string, std::string>>& rows) {
    std::string text;
    for (const auto& [path, delay] : rows) {
        text += "\"" + path + "\",\"" + delay + "\"\r\n";
    }
    files.files[listFile()] = text;
}

}  // namespace selvatro::fake
