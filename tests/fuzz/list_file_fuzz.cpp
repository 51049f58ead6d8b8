// Any bytes as a list file: the reader never reads past the data and always ends, and the loader always leaves
// the ten boxes filled in some form, with the loading flag down again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fake/fake_desktop.h"
#include "list/list_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    selvatro::list::FieldReader reader(text);
    std::size_t fields = 0;
    std::size_t bytes = 0;
    while (auto field = reader.Next()) {
        bytes += field->size();
        // Every field takes at least one byte of the file or ends one: more fields than bytes means a loop.
        if (++fields > size + 1 || bytes > size) {
            std::abort();
        }
    }

    selvatro::fake::FakeDesktop desktop;
    desktop.files.files[desktop.listFile()] = text;
    desktop.start();
    if (desktop.form().Chargement != 0 || desktop.ended()) {
        std::abort();
    }
    return 0;
}
