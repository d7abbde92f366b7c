#include "base/regex.h"
#include "base/unicode.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "text/formatting.h"
#include "text/snippets.h"
#include "text/spellings.h"
#include "text/typography.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::TempDir;
using test::writeFixture;

class Formatting : public testing::Test {
  protected:
    std::string format(std::string_view raw) const {
        const TranscriptSources sources{
            {dir.file("learned-words.txt"), dir.file(".variant-candidates")},
            dir.file("snippets"),
            &noCommonWords};
        return formatTranscript(raw, sources).text;
    }
    void expectAll(const std::vector<std::pair<const char*, const char*>>& cases) const {
        for (const auto& [raw, expected] : cases)
            EXPECT_EQ(format(raw), expected) << raw;
    }

    TempDir dir;
    SystemWords noCommonWords;
};

TEST_F(Formatting, EveryStageOnOneTable) {
    expectAll({
        {"", ""},
        {"[BLANK_AUDIO]\n(wind blowing)\n  \n", ""},
        {"keep [this one] please now", "Keep [this one] please now."}, // not upper case
        {"a (laugh b (sigh) c", "A c"}, // a tag ends at the first closing bracket
        {"a (laughing b c d", "A (laughing b c d."},
        {"so, um, we start today", "So, we start today."},
        {"the umbrella is here today", "The umbrella is here today."},
        {"hello\r\n[BLANK_AUDIO]\r\nworld", "Hello world"},
        {"caf\xc3 is open \xf0\x9f\x91", "Caf\xef\xbf\xbd is open \xef\xbf\xbd"},
        // Layout commands act only after punctuation or at the start.
        {"First point. new line second point", "First point.\nSecond point"},
        {"That is all. New paragraph. Next topic here", "That is all.\n\nNext topic here."},
        {"Groceries: dash milk, dash eggs", "Groceries\n- Milk\n- Eggs"},
        {"a dash of salt", "A dash of salt."},
        {"Notes: new line dash one new line dash two", "Notes\n- One new line dash two."},
        {"we moved from postgres sequel to my sql", "We moved from PostgreSQL to MySQL."},
        {"ios and macos on my ipad", "iOS and macOS on my iPad."},
        {"my biosphere is intact", "My biosphere is intact."},
        // Sentence casing, spacing and the closing period after four words or more.
        {"it works. does it? yes! great", "It works. Does it? Yes! Great."},
        {"\xc3\xa9t\xc3\xa9 was warm. \xc3\xa9t\xc3\xa9 again",
         "\xc3\x89t\xc3\xa9 was warm. \xc3\x89t\xc3\xa9 again."},
        {"i'm sure i'll go and i've said i'd come", "I'm sure I'll go and I've said I'd come."},
        {"meet at 5", "Meet at 5"},
        {"we will meet at 5", "We will meet at 5."},
        {"we went to the caf\x65\xcc\x81", "We went to the cafe\xcc\x81."},
    });
}

TEST(SpellingTables, RowsCompileAndLeaveEveryCanonicalSpellingAlone) {
    for (const SpellingRule& row : BRAND_SPELLINGS) {
        EXPECT_TRUE(regexIsValid(row.pattern)) << row.pattern;
        // Each row fixes its own name in any case, and no row touches another row's result.
        EXPECT_EQ(regexReplace(toLower(row.replacement), row.pattern, row.replacement),
                  row.replacement);
        for (const SpellingRule& other : BRAND_SPELLINGS) {
            if (&other == &row) continue;
            EXPECT_EQ(regexReplace(row.replacement, other.pattern, other.replacement),
                      row.replacement)
                << other.pattern << " changes " << row.replacement;
        }
    }
}

TEST_F(Formatting, SnippetsAndLearnedSpellingsFromTheUsersFiles) {
    writeFixture(dir.file("snippets"), "# my snippets\n"
                                       "addr = 1 Main St\\nSpringfield\n"
                                       "price = costs $1 or \\\\ two\n"
                                       "addr home = 9 Elm Road\n"
                                       "a.b* = regex (metacharacters) [ok]\n"
                                       "outer = snippet addr, then snippet price\n");
    writeFixture(dir.file("learned-words.txt"), "Kubernetes|cooper netties,kuber nets\n"
                                                "C++ (2.0)|see plus plus\n"
                                                "C#|see sharp\n"
                                                ".NET|dot net\n"
                                                "Anouk\n");
    expectAll({
        {"insert snippet addr.", "1 Main St\nSpringfield"},
        {"it snippet price today", "It costs $1 or \\\\ two today."},
        {"snippet addr home", "9 Elm Road"}, // the longer trigger wins over its prefix
        {"see snippet a.b* now", "See regex (metacharacters) [ok] now."},
        {"snippet outer", "Snippet addr, then snippet price."}, // not expanded again
        {"we deploy on kuber nets today", "We deploy on Kubernetes today."},
        {"write it in see plus plus today", "Write it in C++ (2.0) today."},
        {"tell anouk and ANOUK now", "Tell Anouk and Anouk now."},
        // Spellings that begin or end with punctuation still match as whole words.
        {"we use see sharp, c# and .net here", "We use C#, C# and .NET here."},
    });
    EXPECT_FALSE(std::filesystem::exists(dir.file(".variant-candidates")));
}

TEST(Snippets, FileLinesParseAsWritten) {
    const SnippetMap snippets = parseSnippets("  Big Sig = Best,\\nSam  \r\n"
                                              "# comment = not a snippet\n"
                                              "no equals sign here\n"
                                              " = no trigger\n"
                                              "empty =   \n"
                                              "x = a = b\n"
                                              "x = later wins\n");
    EXPECT_EQ(snippets, (SnippetMap{{"big sig", "Best,\nSam"}, {"x", "later wins"}}));
}

TEST_F(Formatting, TheUsersFilesAreReadAfreshAndAFifoInTheirPlaceIsLeftAlone) {
    // Versions of the same size: a cache keyed on size and modification time alone misses them.
    for (const std::string name : {"Anouk", "Annik"}) {
        writeFixture(dir.file("learned-words.txt"), name + "|a nook\n");
        EXPECT_EQ(format("please ask a nook about it"), "Please ask " + name + " about it.");
        writeFixture(dir.file("snippets"), "sig = " + name + "\n");
        EXPECT_EQ(format("snippet sig"), name);
    }
    test::LogCapture log;
    for (const char* name : {"learned-words.txt", "snippets"}) {
        std::filesystem::remove(dir.file(name));
        ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0600), 0);
    }
    EXPECT_EQ(format("we use postgress, snippet sig"), "We use postgress, snippet sig.");
    EXPECT_TRUE(log.has(LogLevel::warning, "snippets is a FIFO — not read, left as it is"));
    EXPECT_TRUE(log.has(LogLevel::warning, "learned-words.txt is a FIFO"));
}

TEST_F(Formatting, AdversarialInputStaysFastAndIntact) {
    writeFixture(dir.file("learned-words.txt"), "(a+)+$|[x]{1000}\\\nOne|w+\n");
    writeFixture(dir.file("snippets"), "(a+)+$ = \\1 $0\n");
    // A quadratic stage or a catastrophic pattern would run into the test's time limit here.
    std::string bigLine;
    while (bigLine.size() < 1'000'000)
        bigLine += "lorem ipsum dolor sit amet, consectetur adipiscing elit. ";
    EXPECT_GT(format(bigLine).size(), 990'000u);
    EXPECT_EQ(format("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa! please ok now"),
              "Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa! Please ok now.");
    EXPECT_EQ(format("snippet (a+)+$ now"), "\\1 $0 now");

    // Unclosed sound tags: each one used to scan on to the end of the text.
    std::string unclosed;
    for (int i = 0; i < 20000; ++i)
        unclosed += "(laugh " + std::to_string(i) + " ";
    const std::string kept = format(unclosed);
    EXPECT_EQ(kept.substr(0, 17), "(Laugh 0 (laugh 1");
    EXPECT_EQ(kept.size(), unclosed.size()); // the last blank gone, a period added

    // Snippets naming shorter ones: expanded again, seven lines made 5 MB of 14 bytes.
    std::string nested;
    for (int level = 1; level <= 7; ++level) {
        nested += std::string(static_cast<std::size_t>(level), 'k') + " =";
        for (int copy = 0; copy < 10; ++copy)
            nested += " snippet " + std::string(static_cast<std::size_t>(level - 1), 'k');
        nested += "\n";
    }
    writeFixture(dir.file("snippets"), nested);
    EXPECT_LT(format("snippet kkkkkkk").size(), 200u);
}

TEST(SmartTypography, CurlsApostrophesAndEllipsesOutsideCodeTools) {
    const char* code = "terminal,iterm,claude,code,cursor,warp";
    const struct {
        const char *text, *app, *codeApps, *expected;
    } cases[] = {
        {"don't stop...", "com.apple.mail", code, "don\u2019t stop\u2026"},
        {"don't stop...", "com.microsoft.VSCode", code, "don't stop..."},
        {"run `ls` don't...", "com.apple.mail", code, "run `ls` don't..."},
        // Only apostrophes between two ASCII letters curl; quotes around words stay straight.
        {"'quoted' rock'n'roll 90's....", "", code, "'quoted' rock\u2019n\u2019roll 90's\u2026."},
        // List entries are trimmed and match in any case; empty ones match nothing.
        {"it's", "dev.warp.Warp-Stable", " Terminal , Warp", "it's"},
        {"it's", "com.apple.mail", ",, ,", "it\u2019s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(smartTypography(c.text, c.app, c.codeApps), c.expected) << c.app << c.text;
}

} // namespace
} // namespace vak
