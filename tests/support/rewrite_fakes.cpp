#include "support/rewrite_fakes.h"

#include "support/speech_fakes.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace vak::test {

FakeClaude::FakeClaude(const std::string& home) : dir_(home + "/.local/bin") {
    std::filesystem::create_directories(dir_);
    std::filesystem::create_symlink(VAK_FAKE_CLAUDE, dir_ + "/claude");
}

void FakeClaude::answer(const std::string& bytes) const {
    writeFixture(dir_ + "/fake-claude.answer", bytes);
}

void FakeClaude::setControl(const std::string& lines) const {
    writeFixture(dir_ + "/fake-claude.conf", lines + "\n");
}

std::vector<nlohmann::json> FakeClaude::calls() const {
    return readJsonLines(dir_ + "/fake-claude.calls");
}

CommandLineWatch::CommandLineWatch()
    : thread_([this] {
          while (running_.load()) {
              scan();
              std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
      }) {}

CommandLineWatch::~CommandLineWatch() {
    stop();
}

void CommandLineWatch::stop() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
}

// POSIX reads: a process that ends while it is read makes the read fail, which a stream would
// turn into an exception.
void CommandLineWatch::scan() {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        const int fd = ::open(("/proc/" + name + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        std::string cmdline;
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            cmdline.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        if (cmdline.empty()) continue;
        const std::lock_guard lock(mutex_);
        seen_.insert(std::move(cmdline));
    }
    ::closedir(proc);
}

std::vector<std::vector<std::string>>
CommandLineWatch::commandsContaining(std::string_view needle) const {
    std::vector<std::vector<std::string>> found;
    const std::lock_guard lock(mutex_);
    for (const auto& cmdline : seen_)
        if (cmdline.find(needle) != std::string::npos) found.push_back(splitText(cmdline, '\0'));
    return found;
}

std::string maxTimeFor(const CommandLineWatch& watch, std::string_view url) {
    const auto curls = watch.commandsContaining(url);
    if (curls.size() != 1) return "";
    const auto at = std::find(curls[0].begin(), curls[0].end(), "--max-time");
    return at == curls[0].end() || at + 1 == curls[0].end() ? "" : *(at + 1);
}

} // namespace vak::test
