#include "platform/login_item.h"

#include <filesystem>

namespace vak {

std::string startableProgram(std::string_view argv0) {
    if (argv0.find('/') == std::string_view::npos) return std::string(argv0);
    std::error_code error;
    const auto absolute = std::filesystem::absolute(std::filesystem::path(argv0), error);
    return error ? std::string(argv0) : absolute.lexically_normal().string();
}

} // namespace vak
