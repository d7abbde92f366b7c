#pragma once

#include "platform/file_opener.h"

#include <string>

namespace vak {

// Opens files through xdg-open, the desktop's own choice of application. xdg-open runs from an
// argument list, in the background, under a watchdog (some desktops keep it until the
// application ends: it is stopped after `timeoutSeconds`, the application keeps running). A
// failure to open is logged once.
class XdgFileOpener final : public FileOpener {
  public:
    explicit XdgFileOpener(std::string xdgOpen = "/usr/bin/xdg-open", double timeoutSeconds = 30);

    bool open(const std::string& path) override;

  private:
    std::string xdgOpen_;
    double timeoutSeconds_;
};

} // namespace vak
