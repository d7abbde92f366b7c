#include "foundation/user_files.h"

#include <array>

namespace vak {

namespace {

constexpr auto kNames = std::to_array<std::string_view>({
#define USER_FILE(id, name, what) name,
#include "foundation/user_files.def"
#undef USER_FILE
});

} // namespace

std::string dictationDirectory(std::string_view home) {
    return std::string(home) + "/.dictation";
}

std::string userFilePath(std::string_view home, UserFile file) {
    return dictationDirectory(home) + "/" + std::string(kNames[static_cast<std::size_t>(file)]);
}

} // namespace vak
