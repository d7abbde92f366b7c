#pragma once

#include <memory>
#include <string>

namespace vak {

// Opens files with the desktop's default application for their type.
//
// Implementations: xdg-open on Linux, the workspace on macOS, a recording fake for tests. Any
// thread; never waits for the application.
class FileOpener {
  public:
    FileOpener() = default;
    virtual ~FileOpener() = default;
    FileOpener(const FileOpener&) = delete;
    FileOpener& operator=(const FileOpener&) = delete;

    // Asks the desktop to open `path`; false when the request could not be made. Whether the
    // application then shows it is the desktop's business; a failure is logged.
    virtual bool open(const std::string& path) = 0;
};

// The process's file opener. Until one is installed: refuses.
std::shared_ptr<FileOpener> fileOpener();
void installFileOpener(std::shared_ptr<FileOpener> opener);

} // namespace vak
