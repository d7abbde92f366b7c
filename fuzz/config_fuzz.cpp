// Config::load on whatever the file holds: never a crash, a hang or a sanitizer report.
#include "foundation/config.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vak::fuzz;
    const std::string path = scratchFile("config");
    writeFile(path, bytesOf(data, size));
    vak::Config::load(path, scratchFolder());
    return 0;
}
