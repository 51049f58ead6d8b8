#include "fake/fake_desktop.h"

#include <algorithm>
#include <filesystem>

#include "platform/errors.h"
#include "platform/text_rules.h"
#include "window/layout.h"

namespace selvatro::fake {

// ---- controls ----

FakeTextBox::FakeTextBox(FakeDesktop& desktop, bool isPathBox, std::int16_t index, std::string tip)
    : desktop_(desktop), isPathBox_(isPathBox), index_(index), tip_(std::move(tip)) {}

void FakeTextBox::setText(const std::string& text) {
    if (text == text_) {
        return;  // the same text raises nothing
    }
    text_ = text;
    selectionStart_ = std::min(selectionStart_, static_cast<int>(platform::CharacterCount(text_)));
    selectionLength_ = 0;
    desktop_.raiseChange(*this);
}

void FakeTextBox::userEdit(const std::string& text) {
    setText(text);
}

void FakeTextBox::setFocus() {
    desktop_.moveFocus(this);
}

void FakeTextBox::setSelectionLength(int length) {
    const int available = static_cast<int>(platform::CharacterCount(text_)) - selectionStart_;
    selectionLength_ = std::clamp(length, 0, std::max(0, available));
}

void FakeWindow::setWindowState(platform::WindowState state) {
    if (state == state_) {
        return;
    }
    state_ = state;
    desktop_.raiseResize();
}

void FakeTimer::setEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    if (enabled_) {
        desktop_.timerEnabled();
    }
}

void FakeFileDialog::showOpen() {
    ++timesShown_;
    openedIn_ = desktop_.files.currentFolder;
    if (failToShow) {
        throw platform::ControlError("the dialog cannot be shown");
    }
    std::optional<std::string> answer;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    if (!answer) {
        if (cancelError_) {
            throw platform::DialogCancelled();
        }
        fileName_.clear();
        return;
    }
    fileName_ = *answer;
}

void FakeMessageBoxes::show(const std::string& text, platform::MessageStyle style, const std::string& title) {
    shown.push_back({text, style, title});
    if (whileOpen) {
        whileOpen();
    }
}

// ---- services ----

double FakePrograms::start(const std::string& path) {
    if (failing.count(path) != 0) {
        throw platform::StartFailed("cannot start " + path);
    }
    started.push_back({path, clock_ ? clock_() : 0});
    return static_cast<double>(started.size());
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
    : window(*this),
      heading0(std::string(window::kDesign.headingCaptions[0])),
      heading1(std::string(window::kDesign.headingCaptions[1])),
      timer(*this),
      dialog(*this),
      facts(profile_),
      programs([this] { return nowMs_; }),
      files(profile_),
      language(profile_),
      browser(files),
      profile_(std::move(profile)) {
    for (std::int16_t i = 0; i < 5; ++i) {
        text1.push_back(std::make_unique<FakeTextBox>(*this, true, i, std::string(window::kDesign.text1Tip)));
        text2.push_back(std::make_unique<FakeTextBox>(*this, false, i, std::string(window::kDesign.text2Tip)));
    }
    platform::Controls controls{window,
                                {text1[0].get(), text1[1].get(), text1[2].get(), text1[3].get(), text1[4].get()},
                                {text2[0].get(), text2[1].get(), text2[2].get(), text2[3].get(), text2[4].get()},
                                {&heading0, &heading1},
                                timer,
                                dialog};
    platform::Services services{messages, facts, programs, files, language, shortcuts, browser, process};
    form_ = std::make_unique<Form1>(controls, services);
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
}

void FakeDesktop::raiseChange(const FakeTextBox& box) {
    if (changeDepth_ >= maxChainDepth || ++changesThisCall_ > maxChangesPerCall) {
        throw RunawayChain{};
    }
    ++changeDepth_;
    deepestChain = std::max(deepestChain, changeDepth_);
    busiestCall = std::max(busiestCall, changesThisCall_);
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{changeDepth_};
    if (box.isPathBox()) {
        form_->Text1_Change(box.index());
    } else {
        form_->Text2_Change(box.index());
    }
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
    if (had == nullptr) {
        return;
    }
    if (had->isPathBox()) {
        form_->Text1_LostFocus(had->index());
    } else {
        form_->Text2_LostFocus(had->index());
    }
    ++sweeps;
    if (afterSweep) {
        afterSweep();
    }
}

void FakeDesktop::raiseResize() {
    if (shown_) {
        form_->Form_Resize();
    }
}

void FakeDesktop::timerEnabled() {
    timer.rearm(nowMs_ + window::kDesign.timerIntervalMs);
}

void FakeDesktop::start() {
    dispatch([this] {
        form_->Form_Load();
        shown_ = true;
        timer.rearm(nowMs_ + window::kDesign.timerIntervalMs);
        form_->Form_Resize();
    });
}

void FakeDesktop::advance(std::int64_t ms) {
    const std::int64_t until = nowMs_ + ms;
    while (!process.ended && shown_ && timer.isEnabled() && timer.nextTickAt() <= until) {
        nowMs_ = timer.nextTickAt();
        timer.rearm(nowMs_ + window::kDesign.timerIntervalMs);
        if (inTick_) {
            continue;  // a tick never runs inside another one: the due tick is dropped
        }
        inTick_ = true;
        dispatch([this] { form_->Timer1_Timer(); });
        inTick_ = false;
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
        dispatch([&] { box.userEdit(next); });
        i += n;
    }
}

void FakeDesktop::edit(FakeTextBox& box, const std::string& text) {
    focus(box);
    dispatch([&] { box.userEdit(text); });
}

void FakeDesktop::focus(FakeTextBox& box) {
    dispatch([&] { moveFocus(&box); });
}

void FakeDesktop::focusElsewhere() {
    dispatch([&] { moveFocus(nullptr); });
}

void FakeDesktop::clickPathBox(int row) {
    focus(*text1.at(static_cast<std::size_t>(row)));
    dispatch([&] { form_->Text1_Click(static_cast<std::int16_t>(row)); });
}

void FakeDesktop::minimise() {
    dispatch([&] { window.setWindowState(platform::WindowState::Minimised); });
}

void FakeDesktop::restore() {
    dispatch([&] { window.setWindowState(platform::WindowState::Normal); });
}

void FakeDesktop::close() {
    dispatch([&] {
        std::int16_t cancel = 0;
        form_->Form_Unload(cancel);
    });
}

void FakeDesktop::clickLogo() {
    dispatch([&] { form_->Image_Tovrel_Click(); });
}

void FakeDesktop::mouseOverBackground() {
    dispatch([&] { form_->Form_MouseMove(); });
}

void FakeDesktop::mouseOverLogo() {
    dispatch([&] { form_->Image_Tovrel_MouseMove(); });
}

void FakeDesktop::mouseOverText1(int row) {
    dispatch([&] { form_->Text1_MouseMove(static_cast<std::int16_t>(row)); });
}

void FakeDesktop::mouseOverText2(int row) {
    dispatch([&] { form_->Text2_MouseMove(static_cast<std::int16_t>(row)); });
}

void FakeDesktop::mouseOverHeading(int index) {
    dispatch([&] { form_->Aff_Programme_MouseMove(static_cast<std::int16_t>(index)); });
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
