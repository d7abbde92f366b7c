// WAV walking on whatever a file holds, then the measurements and a copy on what it accepted.
#include "audio/wav.h"
#include "base/files.h"
#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vak::fuzz;
    const std::string path = scratchFile("input.wav");
    writeFile(path, bytesOf(data, size));
    const auto layout = vak::readWavLayout(path);
    if (!layout) return 0;
    require(layout->dataOffset <= size && layout->dataOffset <= 8192, "data within the header");
    const vak::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const std::uint64_t bytes = (size - layout->dataOffset) & ~std::uint64_t{1};
    vak::rangeRMS(fd.get(), layout->dataOffset, 0, bytes);
    if (const auto cut = vak::quietCutPoint(fd.get(), layout->dataOffset, 0, bytes, bytes))
        require(*cut < bytes && *cut % 2 == 0, "a cut inside the range, on a sample");
    vak::quietestPoint(fd.get(), layout->dataOffset, 0, bytes, bytes);
    const std::string copy = scratchFile("copy.wav");
    if (vak::copyWavRange(fd.get(), layout->dataOffset, 0, bytes, copy)) {
        const auto copied = vak::readWavLayout(copy);
        require(copied && copied->isRecordingFormat() && copied->dataOffset == 44,
                "a copy is a recording");
    }
    return 0;
}
