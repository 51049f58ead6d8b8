// Any text as a delay: the number-from-text rule gives a double or the overflow error, nothing else; what it
// gives is finite, and writing it back as text reads back the same number.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/errors.h"
#include "platform/text_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    double value = 0;
    try {
        value = selvatro::platform::Val(text);
    } catch (const selvatro::platform::OverflowError&) {
        return 0;
    }
    if (!std::isfinite(value)) {
        std::abort();
    }
    if (selvatro::platform::Val(selvatro::platform::Str(value, ".")) != value) {
        std::abort();
    }
    try {
        (void)selvatro::platform::CInt(value);
    } catch (const selvatro::platform::OverflowError&) {
        if (std::nearbyint(value) >= -32768 && std::nearbyint(value) <= 32767) {
            std::abort();
        }
    }
    return 0;
}
