#pragma once

#include <string>
#include <string_view>

namespace vak {

// The user's files under ~/.dictation (user_files.def).
enum class UserFile {
#define USER_FILE(id, name, what) id,
#include "foundation/user_files.def"
#undef USER_FILE
};

// ~/.dictation of the home folder `home`.
std::string dictationDirectory(std::string_view home);
// The file's path under the home folder `home`.
std::string userFilePath(std::string_view home, UserFile file);

} // namespace vak
