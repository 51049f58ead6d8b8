// A byte stream read as a user's edits (typing, deleting, pasting, picking, focus moves) on a list loaded from
// the first bytes. Every change chain must end (a runaway chain overflows the stack, which the sanitizer
// reports), nothing may escape the events, and after each lost-focus sweep no row without a path holds a delay.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fake/fake_desktop.h"

namespace {

constexpr std::array<std::string_view, 12> kPastes = {"",    "A",   "/bin/x", "10", "5",     "-3",
                                                      "2.5", "abc", "1E3",    " ",  "1E999", "/usr/bin/selvatro"};
constexpr std::string_view kKeys = "ab/ 0123456789.-xE";

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
    template <typename Sequence>
    auto pick(const Sequence& s) {
        return s[next() % s.size()];
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

void CheckNoDelayWithoutPath(const selvatro::fake::FakeDesktop& d) {
    for (std::size_t i = 0; i < 5; ++i) {
        if (d.text1[i]->text().empty() && !d.text2[i]->text().empty()) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    selvatro::fake::FakeDesktop d;
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < 5; ++i) {
        rows.emplace_back(std::string(in.pick(kPastes)), std::string(in.pick(kPastes)));
    }
    d.writeList(rows);
    d.start();
    d.restore();

    for (int steps = 0; steps < 200 && !in.empty() && !d.ended(); ++steps) {
        const std::uint8_t op = in.next() % 8;
        const std::size_t box = in.next() % 10;
        auto& target = box < 5 ? *d.text1[box] : *d.text2[box - 5];
        const auto* hadFocus = d.focused();
        switch (op) {
            case 0:
                d.type(target, std::string(1, in.pick(kKeys)));
                break;
            case 1:
                d.edit(target, target.text().substr(0, target.text().empty() ? 0 : target.text().size() - 1));
                break;
            case 2:
                d.edit(target, std::string(in.pick(kPastes)));
                break;
            case 3:
                d.focus(target);
                if (hadFocus != nullptr && hadFocus != &target) {
                    CheckNoDelayWithoutPath(d);
                }
                break;
            case 4:
                d.focusElsewhere();
                if (hadFocus != nullptr) {
                    CheckNoDelayWithoutPath(d);
                }
                break;
            case 5:
                d.dialog.answers.emplace_back(std::string(in.pick(kPastes)));
                d.clickPathBox(static_cast<int>(box % 5));
                CheckNoDelayWithoutPath(d);  // the picker ends by moving the focus out of the path box
                break;
            case 6:
                d.dialog.answers.emplace_back(std::nullopt);
                d.clickPathBox(static_cast<int>(box % 5));
                break;
            default:
                d.edit(target, "");
                break;
        }
    }
    return 0;
}
