#pragma once

#include <cstddef>
#include <string>

namespace vak::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A file system of `bytes` mounted on the folder `at` (created) for what a full disk does, until
// the end; only root can mount, elsewhere the folder is an ordinary one.
class SmallFileSystem {
  public:
    SmallFileSystem(const std::string& at, std::size_t bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    // Writes into it until it is full.
    void fill() const;

  private:
    std::string at_;
    bool mounted_ = false;
};

// Writes `bytes` to `path`, replacing it (plain write, for setting up fixtures).
void writeFixture(const std::string& path, const std::string& bytes);
std::string readFixture(const std::string& path);

} // namespace vak::test
