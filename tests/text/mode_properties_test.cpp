// Properties every writing mode keeps on a corpus of realistic transcripts
// (tests/text/corpus/transcripts.txt), each formatted first as a dictation would be.
#include "base/unicode.h"
#include "support/temp_dir.h"
#include "text/formatting.h"
#include "text/local_modes.h"

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;

class ModeProperties : public testing::Test {
  protected:
    void SetUp() override {
        std::istringstream corpus(
            readFixture(std::string(VAK_SOURCE_DIR) + "/tests/text/corpus/transcripts.txt"));
        const TranscriptSources sources{
            {dir.file("learned-words.txt"), dir.file("candidates")}, dir.file("snippets"), &none};
        for (std::string line; std::getline(corpus, line);) {
            if (!line.empty() && line[0] != '#')
                formatted.push_back(formatTranscript(line, sources).text);
        }
        ASSERT_GE(formatted.size(), 36u);
    }
    TempDir dir;
    SystemWords none;
    std::vector<std::string> formatted;
};

constexpr DeliverMode kModes[] = {DeliverMode::professional, DeliverMode::summarize,
                                  DeliverMode::agent, DeliverMode::expand};

TEST_F(ModeProperties, NoModeDropsANumberTheProfessionalTextKeeps) {
    for (const std::string& text : formatted) {
        const std::vector<std::string> kept =
            numberTokens(localModeTransform(text, DeliverMode::professional));
        for (DeliverMode mode : {DeliverMode::summarize, DeliverMode::agent, DeliverMode::expand}) {
            const std::vector<std::string> numbers = numberTokens(localModeTransform(text, mode));
            for (const std::string& number : kept) {
                EXPECT_NE(std::find(numbers.begin(), numbers.end(), number), numbers.end())
                    << configValue(mode) << " lost " << number << " of: " << text;
            }
        }
    }
}

TEST_F(ModeProperties, NoDoubledSpacesNoEmptyLinesAtTheEndsAndValidText) {
    for (const std::string& text : formatted) {
        for (DeliverMode mode : kModes) {
            const std::string out = localModeTransform(text, mode);
            SCOPED_TRACE(std::string(configValue(mode)) + " of: " + text + "\n→ " + out);
            EXPECT_FALSE(out.empty());
            EXPECT_EQ(out.find("  "), std::string::npos);
            EXPECT_NE(out.front(), '\n');
            EXPECT_NE(out.back(), '\n');
            EXPECT_EQ(out.find("\n\n\n"), std::string::npos);
            EXPECT_EQ(out.find(" \n"), std::string::npos);
            EXPECT_EQ(out.find("\n "), std::string::npos);
            EXPECT_EQ(out.find(",."), std::string::npos);
            EXPECT_EQ(out.find(".,"), std::string::npos);
            EXPECT_TRUE(isValidUtf8(out));
        }
    }
}

TEST_F(ModeProperties, ProfessionalIsStableOnItsOwnSingleParagraphOutput) {
    std::size_t checked = 0;
    for (const std::string& text : formatted) {
        const std::string once = localProfessional(text);
        // Sentences do not end at line breaks, so a text laid out in blocks reads as one run;
        // a single paragraph must come back as it is.
        if (once.find('\n') != std::string::npos) continue;
        ++checked;
        EXPECT_EQ(localProfessional(once), once) << "of: " << text;
    }
    EXPECT_GE(checked, formatted.size() / 3);
}

// Words of four letters or more, lower-cased, without surrounding punctuation.
std::set<std::string> contentWords(std::string_view text) {
    std::set<std::string> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of(" \n", pos);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(text.find_first_of(" \n", start), text.size());
        const std::string word = toLower(trimPunctuation(text.substr(start, end - start)));
        if (word.size() >= 4) words.insert(word);
        pos = end;
    }
    return words;
}

TEST_F(ModeProperties, SummaryAndBriefKeepEveryWordButTheirCues) {
    // Both render the professional text's sentences; they may drop only the cue words that
    // open a list item or a topic ("first", "number two", "by the way") or a clause ("also").
    const std::set<std::string> cues = {
        "first",     "firstly", "second",     "secondly", "third",  "thirdly", "then",
        "next",      "also",    "finally",    "lastly",   "number", "point",   "step",
        "three",     "anyway",  "separately", "more",     "thing",  "another", "note",
        "switching", "gears",   "other",      "last",     "real",   "quick",   "wanted"};
    for (const std::string& text : formatted) {
        const std::set<std::string> kept = contentWords(localProfessional(text));
        for (DeliverMode mode : {DeliverMode::summarize, DeliverMode::agent}) {
            const std::string out = localModeTransform(text, mode);
            const std::set<std::string> words = contentWords(out);
            for (const std::string& word : kept) {
                if (cues.contains(word)) continue;
                EXPECT_TRUE(words.contains(word))
                    << configValue(mode) << " lost '" << word << "' of: " << text << "\n→ " << out;
            }
        }
    }
}

} // namespace
} // namespace vak
