#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace vak {

// The ordinary words of the language, lower-cased: a sound-alike correction never turns one of
// them into a learned word.
class SystemWords {
  public:
    static constexpr std::string_view kPath = "/usr/share/dict/words";

    // The system's list, loaded on first use and kept for the life of the process; empty when
    // the list is missing or unreadable.
    static const SystemWords& common();
    // One word a line.
    static SystemWords fromList(std::string_view lines);
    static SystemWords fromFile(const std::string& path);

    // `lowered` must already be lower-case.
    bool contains(std::string_view lowered) const { return words_.find(lowered) != words_.end(); }
    std::size_t size() const { return words_.size(); }

  private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::unordered_set<std::string, Hash, std::equal_to<>> words_;
};

} // namespace vak
