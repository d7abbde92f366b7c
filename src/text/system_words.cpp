#include "text/system_words.h"

#include "base/files.h"
#include "base/unicode.h"

namespace vak {

SystemWords SystemWords::fromList(std::string_view lines) {
    SystemWords list;
    list.words_.reserve(lines.size() / 8);
    std::size_t pos = 0;
    while (pos < lines.size()) {
        const std::size_t newline = lines.find('\n', pos);
        const std::size_t end = newline == std::string_view::npos ? lines.size() : newline;
        std::string_view word = lines.substr(pos, end - pos);
        pos = end + 1;
        if (!word.empty() && word.back() == '\r') word.remove_suffix(1);
        if (word.empty()) continue;
        bool ascii = true;
        std::string lowered(word);
        for (char& c : lowered) {
            if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        list.words_.insert(ascii ? std::move(lowered) : toLower(word));
    }
    return list;
}

SystemWords SystemWords::fromFile(const std::string& path) {
    const auto bytes = readFileBytes(path);
    // A stray bad byte should not cost the whole list; it only spoils its own word.
    return bytes ? fromList(sanitizeUtf8(*bytes)) : SystemWords{};
}

const SystemWords& SystemWords::common() {
    // Never destroyed: threads still formatting at exit may read it.
    static const SystemWords* words = new SystemWords(fromFile(std::string(kPath)));
    return *words;
}

} // namespace vak
