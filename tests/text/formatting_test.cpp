#include "base/files.h"
#include "base/regex.h"
#include "base/unicode.h"
#include "foundation/process_values.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "text/formatting.h"
#include "text/snippets.h"
#include "text/spellings.h"
#include "text_cases.h"

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

class Formatting : public testing::Test {
  protected:
    TranscriptSources sources() const {
        return {{dir.file("learned-words.txt"), dir.file(".variant-candidates")},
                dir.file("snippets"),
                &noCommonWords};
    }
    std::string format(std::string_view raw) const { return formatTranscript(raw, sources()).text; }
    void expectAll(const std::vector<test::TextCase>& cases) const {
        test::expectAll([this](const char* raw) { return format(raw); }, cases);
    }

    TempDir dir;
    SystemWords noCommonWords;
};

TEST_F(Formatting, EngineMarkersAndHesitationsGo) {
    expectAll({
        {"", ""},
        {"[BLANK_AUDIO]\n(wind blowing)\n  \n", ""},
        {"hello there\n[MUSIC PLAYING]\nhow are you", "Hello there how are you."},
        {"keep [this one] please now", "Keep [this one] please now."}, // not upper case
        {"we [INAUDIBLE] should talk soon", "We should talk soon."},
        {"that was (laughs) really funny", "That was really funny."},
        {"that was (Applause loudly) really great", "That was really great."},
        {"a (laugh b (sigh) c", "A c"}, // a tag ends at the first closing bracket
        {"a (laughing b c d", "A (laughing b c d."},
        {"okay so um I think we should go", "Okay so I think we should go."},
        {"so, um, we start today", "So, we start today."},
        {"Um. so we go now okay", "So we go now okay."},
        {"I was uhhh thinking about it", "I was thinking about it."},
        {"uh huh that works", "Uh huh that works."},
        {"the umbrella is here today", "The umbrella is here today."},
        {"hello\r\n[BLANK_AUDIO]\r\nworld", "Hello world"},
        {"caf\xc3 is open \xf0\x9f\x91", "Caf\xef\xbf\xbd is open \xef\xbf\xbd"},
    });
}

TEST_F(Formatting, SpokenLayoutCommandsActOnlyAfterPunctuationOrAtTheStart) {
    expectAll({
        {"First point. new line second point", "First point.\nSecond point"},
        {"hello new line world", "Hello new line world."},
        {"Dear Sam, new line thanks for the note", "Dear Sam\nThanks for the note."},
        {"new paragraph hello there my friend", "Hello there my friend."},
        {"That is all. New paragraph. Next topic here", "That is all.\n\nNext topic here."},
        {"one thing; new paragraph: another thing", "One thing\n\nAnother thing"},
        {"Groceries: dash milk, dash eggs", "Groceries\n- Milk\n- Eggs"},
        {"Todo. bullet point call mom. bullet buy bread", "Todo.\n- Call mom.\n- Buy bread."},
        {"dash first item", "- First item"},
        {"a dash of salt", "A dash of salt."},
        {"add a bullet point here please", "Add a bullet point here please."},
        {"it ends with a dash", "It ends with a dash."},
        {"Notes: new line dash one new line dash two", "Notes\n- One new line dash two."},
    });
}

TEST_F(Formatting, BrandAndPlatformSpellings) {
    expectAll({
        {"push it to git hub", "Push it to GitHub."},
        {"we moved from postgres sequel to my sql", "We moved from PostgreSQL to MySQL."},
        {"the node js app uses type script", "The Node.js app uses TypeScript."},
        {"the github repo", "The GitHub repo"},
        {"ok. iphone is great", "Ok. iPhone is great."},
        {"ios and macos on my ipad", "iOS and macOS on my iPad."},
        {"npm install works now", "npm install works now."},
        {"then npx runs it fine", "Then npx runs it fine."},
        {"Npm is fine", "npm is fine"},
        {"my biosphere is intact", "My biosphere is intact."},
    });
}

TEST(SpellingTables, RowsCompileAndLeaveEveryCanonicalSpellingAlone) {
    for (const SpellingRule& row : BRAND_SPELLINGS) {
        EXPECT_TRUE(regexIsValid(row.pattern)) << row.pattern;
        EXPECT_TRUE(row.pattern.starts_with("(?i)\\b") && row.pattern.ends_with("\\b"))
            << row.pattern;
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
    for (const SpellingRule& row : PLATFORM_SPELLINGS)
        EXPECT_TRUE(regexIsValid(row.pattern)) << row.pattern;
}

TEST_F(Formatting, SentenceCasingFollowsPeriodsAbbreviationsAndInitialisms) {
    expectAll({
        {"see dr. smith today", "See dr. smith today."},
        {"e.g. this one", "E.g. this one"},
        {"we met in the u.s. last year", "We met in the u.s. last year."},
        {"apples, pears etc. are fine", "Apples, pears etc. are fine."},
        {"it works. does it? yes! great", "It works. Does it? Yes! Great."},
        {"version 3.5 is out now", "Version 3.5 is out now."},
        {"open file.txt now", "Open file.txt now"},
        {"really?! that is wild", "Really?! That is wild."},
        {"what?!really", "What?!really"},
        {"3 apples are here", "3 apples are here."},
        {"done. 3 apples left. ok", "Done. 3 apples left. Ok."},
        {"\xc3\xa9t\xc3\xa9 was warm. \xc3\xa9t\xc3\xa9 again",
         "\xc3\x89t\xc3\xa9 was warm. \xc3\x89t\xc3\xa9 again."},
        {"ok. \"quoted start here", "Ok. \"Quoted start here."},
        {"i think i.e. this", "I think i.e. this."},
        {"i'm sure i'll go and i've said i'd come", "I'm sure I'll go and I've said I'd come."},
        {"the wifi is down", "The wifi is down."},
    });
}

TEST_F(Formatting, SpacingAndTheClosingPeriod) {
    expectAll({
        {"sounds good to me", "Sounds good to me."},
        {"sounds good", "Sounds good"},
        {"  hello   there ,  friend  ! ", "Hello there, friend!"},
        {"it ends here .", "It ends here."},
        {"add it to .gitignore and .env now", "Add it to .gitignore and .env now."},
        {"meet at 5", "Meet at 5"},
        {"we will meet at 5", "We will meet at 5."},
        {"is that right my friend?", "Is that right my friend?"},
        {"the list has three\nitems", "The list has three items."},
        {"nice work on that \xf0\x9f\x91\x8d", "Nice work on that \xf0\x9f\x91\x8d"},
        {"we went to the caf\x65\xcc\x81", "We went to the cafe\xcc\x81."},
    });
}

TEST_F(Formatting, SnippetsInsertTheirTextLiterally) {
    writeFixture(dir.file("snippets"), "# my snippets\n"
                                       "addr = 1 Main St\\nSpringfield\n"
                                       "sig = Best regards,\\nSam\n"
                                       "price = costs $1 or \\\\ two\n"
                                       "addr home = 9 Elm Road\n"
                                       "a.b* = regex (metacharacters) [ok]\n"
                                       "outer = snippet sig, then snippet addr\n");
    expectAll({
        {"insert snippet addr.", "1 Main St\nSpringfield"},
        {"Snippet, sig.", "Best regards,\nSam"},
        {"thanks snippet sig", "Thanks Best regards,\nSam"},
        {"say sig to them", "Say sig to them."}, // the word snippet is required
        {"it snippet price today", "It costs $1 or \\\\ two today."},
        {"snippet addr home", "9 Elm Road"}, // the longer trigger wins over its prefix
        {"see snippet a.b* now", "See regex (metacharacters) [ok] now."},
        {"see snippet aXb* now", "See snippet aXb* now."},
        // What a snippet inserts is not expanded again.
        {"snippet outer", "Snippet sig, then snippet addr."},
    });
}

TEST(Snippets, FileLinesParseAsWritten) {
    const SnippetMap snippets = parseSnippets("  Sig = Best,\\nSam  \r\n"
                                              "# comment = not a snippet\n"
                                              "no equals sign here\n"
                                              " = no trigger\n"
                                              "empty =   \n"
                                              "\n"
                                              "x = a = b\n"
                                              "sig = later wins\n");
    EXPECT_EQ(snippets, (SnippetMap{{"sig", "later wins"}, {"x", "a = b"}}));
    EXPECT_EQ(parseSnippets("Big Sig=Best,\\nSam")["big sig"], "Best,\nSam");

    TempDir dir;
    EXPECT_TRUE(loadSnippets(dir.file("missing")).empty());
    writeFixture(dir.file("latin1"), "sig = caf\xe9\n");
    EXPECT_TRUE(loadSnippets(dir.file("latin1")).empty());
}

TEST_F(Formatting, EditsToTheFilesApplyToTheNextCall) {
    // Versions of the same size: a cache keyed on size and modification time alone misses them.
    for (const std::string name : {"Anouk", "Annik"}) {
        writeFixture(dir.file("learned-words.txt"), name + "|a nook\n");
        EXPECT_EQ(format("please ask a nook about it"), "Please ask " + name + " about it.");
        writeFixture(dir.file("snippets"), "sig = " + name + "\n");
        EXPECT_EQ(format("snippet sig"), name);
    }
}

TEST_F(Formatting, LearnedSpellingsReplaceVariantsAndEnforceCapitals) {
    writeFixture(dir.file("learned-words.txt"), "Kubernetes|cooper netties,kuber nets\n"
                                                "C++ (2.0)|see plus plus\n"
                                                "$HOME|dollar home\n"
                                                "C#|see sharp\n"
                                                ".NET|dot net\n"
                                                "Anouk\n");
    expectAll({
        {"we deploy on kuber nets today", "We deploy on Kubernetes today."},
        {"write it in see plus plus today", "Write it in C++ (2.0) today."},
        {"set dollar home first please", "Set $HOME first please."},
        {"tell anouk and ANOUK now", "Tell Anouk and Anouk now."},
        // Spellings that begin or end with punctuation still match as whole words.
        {"we use see sharp, c# and .net here", "We use C#, C# and .NET here."},
        {"a fishing net or a dotnet file", "A fishing net or a dotnet file."},
    });
    EXPECT_FALSE(std::ifstream(dir.file(".variant-candidates")).good());
}

TEST_F(Formatting, AFifoInPlaceOfAUserFileNeitherBlocksNorIsTouched) {
    test::LogCapture log;
    for (const char* name : {"learned-words.txt", "snippets"})
        ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0600), 0);
    EXPECT_EQ(format("we use postgress, snippet sig"), "We use postgress, snippet sig.");
    EXPECT_TRUE(log.has(LogLevel::warning, "snippets is a FIFO — not read, left as it is"));
    EXPECT_TRUE(log.has(LogLevel::warning, "learned-words.txt is a FIFO"));
}

TEST_F(Formatting, ConcurrentCallsAgreeWhileTheFilesChange) {
    writeFixture(dir.file("learned-words.txt"), "Kubernetes|kuber nets\n");
    writeFixture(dir.file("snippets"), "sig = Sam\n");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 40; ++i) {
                if (format("um deploy kuber nets now, snippet sig") !=
                    "Deploy Kubernetes now, Sam.")
                    ++wrong;
            }
        });
    }
    // Saved the way editors save, with the same meaning: every call sees one version or the
    // other, and the cache never hands out a half-built dictionary.
    for (int i = 0; i < 40; ++i) {
        writeFileAtomic(dir.file("learned-words.txt"),
                        i % 2 ? "Kubernetes|kuber nets\n" : "# v2\nKubernetes|kuber nets\n");
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(Formatting, AdversarialInputStaysFastAndIntact) {
    writeFixture(dir.file("learned-words.txt"), "(a+)+$|[x]{1000}\\\nOne|w+\n");
    writeFixture(dir.file("snippets"), "(a+)+$ = \\1 $0\n");
    std::string loop;
    for (int i = 0; i < 100000; ++i)
        loop += "again ";
    std::string bigLine;
    while (bigLine.size() < 1'000'000)
        bigLine += "lorem ipsum dolor sit amet, consectetur adipiscing elit. ";

    // A quadratic stage or a catastrophic pattern would run into the test's time limit here.
    EXPECT_EQ(format(loop), "Again");
    const std::string big = format(bigLine);
    EXPECT_EQ(big.substr(0, 28), "Lorem ipsum dolor sit amet, ");
    EXPECT_GT(big.size(), 990'000u);
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

} // namespace
} // namespace vak
