#include "platform/linux/input_access.h"

#include "base/files.h"

namespace vak {

std::string inputUdevRule() {
    const std::string installed =
        std::string(VAK_INSTALLED_DATADIR) + "/vak-dictate/" + std::string(INPUT_UDEV_RULE_NAME);
    if (pathExists(installed)) return installed;
    return "packaging/udev/" + std::string(INPUT_UDEV_RULE_NAME);
}

std::string inputAccessHelp() {
    return "join the input group (sudo usermod -aG input $USER, then log in again) or install "
           "the udev rule " +
           inputUdevRule() + " (README ▸ Using it on a desktop)";
}

} // namespace vak
