#pragma once

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

// Writes `bytes` to `path`, replacing it (plain write, for setting up fixtures).
void writeFixture(const std::string& path, const std::string& bytes);
std::string readFixture(const std::string& path);

} // namespace vak::test
