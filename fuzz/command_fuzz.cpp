// The local command editor: an instruction (up to the first NUL byte) applied to a selection.
#include "base/unicode.h"
#include "fuzz_support.h"
#include "text/local_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vak::fuzz;
    const auto [instruction, selection] = twoParts(bytesOf(data, size));
    const auto edited =
        vak::localCommandEdit(vak::sanitizeUtf8(selection), vak::sanitizeUtf8(instruction));
    require(!edited || vak::isValidUtf8(*edited), "well-formed text");
    return 0;
}
