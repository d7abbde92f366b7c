// The local expand mode on any formatted transcript.
#include "base/unicode.h"
#include "fuzz_support.h"
#include "text/local_modes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vak::fuzz;
    const std::string text = vak::sanitizeUtf8(bytesOf(data, size));
    require(vak::isValidUtf8(vak::localExpand(text)), "well-formed text");
    return 0;
}
