#include "base/regex.h"
#include "support/log_capture.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(RegexReplace, TemplateGroupsEscapesLiteralsAndInvalidPatterns) {
    EXPECT_EQ(regexReplace("john smith", "(\\w+) (\\w+)", "$2, $1"), "smith, john");
    EXPECT_EQ(regexReplace("cost 5", "(\\d)", "\\$$1"), "cost $5");
    EXPECT_EQ(regexReplace("a", "a", "\\\\"), "\\");
    // An escaped template inserts "$1" itself, not group 1.
    EXPECT_EQ(regexReplace("x", "(x)", templateEscape("$1 and \\n")), "$1 and \\n");
    // A dollar sign not followed by a digit is just a dollar sign.
    EXPECT_EQ(regexReplace("price", "price", "$ USD"), "$ USD");
    // Digits after a group number stay literal once they would name a missing group.
    EXPECT_EQ(regexReplace("ab", "(a)(b)", "$10"), "a0");
    EXPECT_EQ(regexReplace("ab", "(a)(b)", "$9"), "");
    // A group that did not take part inserts nothing.
    EXPECT_EQ(regexReplace("b", "(a)?b", "[$1]"), "[]");
    // An invalid pattern leaves the text unchanged.
    EXPECT_EQ(regexReplace("keep (me)", "(unclosed", "x"), "keep (me)");
    EXPECT_EQ(regexReplace("keep", "*", "x"), "keep");
    EXPECT_FALSE(regexIsValid("[a-"));
    EXPECT_FALSE(regexSearch("anything", "(?<=a+)b")); // unbounded look-behind
}

TEST(RegexReplace, FlagsAnchorsEmptyMatchesAndNonAsciiText) {
    EXPECT_EQ(regexReplace("Dog dog", "dog", "cat", RegexFlags::CaseInsensitive), "cat cat");
    EXPECT_EQ(regexReplace("scatter cat", "\\bcat\\b", "dog"), "scatter dog");
    EXPECT_EQ(regexReplace("uh well uh", "^uh\\s*", ""), "well uh");
    EXPECT_EQ(regexReplace("line one\nline two", "^line", "L"), "L one\nline two");
    EXPECT_EQ(regexReplace("a\nb", "a.b", "x"), "a\nb");
    EXPECT_EQ(regexReplace("abc", "x*", "-"), "-a-b-c-");
    EXPECT_EQ(regexReplace("caf\xc3\xa9 \xf0\x9f\x91\x8d ok", "\\s+", "_"),
              "caf\xc3\xa9_\xf0\x9f\x91\x8d_ok");
    EXPECT_EQ(regexReplace("\xc3\x89T\xc3\x89", "(?i)\xc3\xa9t\xc3\xa9", "summer"), "summer");
}

TEST(RegexEscape, LiteralsMatchThemselvesOnly) {
    const std::string tricky = "C++ (v2.0) [beta] ^$ | a*b? {3} \\d ok.";
    EXPECT_TRUE(regexFullMatch(tricky, regexEscape(tricky)));
    EXPECT_FALSE(regexSearch("C+ v2x0", regexEscape("C++ v2.0")));
    EXPECT_EQ(regexReplace("use node.js now", regexEscape("node.js"), "Node.js"),
              "use Node.js now");
    EXPECT_FALSE(regexSearch("nodexjs", regexEscape("node.js")));
}

TEST(RegexMatch, GroupsAndByteOffsetsOverMultibyteText) {
    const std::string text = "\xf0\x9f\x91\x8d caf\xc3\xa9 at 10:30 pm";
    auto match = regexFirstMatch(text, "(\\d{1,2}):(\\d{2})\\s?(am|pm)?");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->text(), "10:30 pm");
    EXPECT_EQ(match->group(2), "30");
    EXPECT_EQ(text.substr(match->begin, match->end - match->begin), "10:30 pm");

    auto all = regexAllMatches("\xc3\xa9 a1 \xc3\xa9 b22 c", "([a-z])(\\d+)?");
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].group(2), "22");
    EXPECT_FALSE(all[2].groups[2].has_value());
    EXPECT_EQ(all[2].group(2), "");
    EXPECT_EQ(all[2].begin, std::string("\xc3\xa9 a1 \xc3\xa9 b22 ").size());
}

TEST(CompiledRegex, BehavesLikeRegexReplaceAndSurvivesBadPatterns) {
    const Regex layout(R"((?i)([.!?])[ \t]*\bnew line\b[,.;:]*[ \t]*)");
    ASSERT_TRUE(layout.valid());
    EXPECT_EQ(layout.replace("One. New line, two", "$1\n"), "One.\ntwo");
    EXPECT_EQ(layout.replace("nothing here", "$1\n"), "nothing here");
    EXPECT_TRUE(layout.search("ok! new line"));
    EXPECT_FALSE(layout.search("new line"));

    const Regex broken("(unclosed");
    EXPECT_FALSE(broken.valid());
    EXPECT_EQ(broken.replace("keep (me)", "x"), "keep (me)");
    EXPECT_FALSE(broken.search("(unclosed"));
    EXPECT_FALSE(Regex().valid());

    const Regex copy = layout; // copies share the compiled pattern
    EXPECT_EQ(copy.replace("a? new line b", "$1\n"), "a?\nb");
}

TEST(CompiledRegex, FirstMatchFromAnOffsetSeesTheTextBeforeIt) {
    const std::string text = "\xc3\xa9t\xc3\xa9 no wait, snow wait no";
    const Regex cue(R"((?i)\b(no|wait),?\s+(wait|no)\b)");
    auto match = cue.firstMatch(text);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->begin, 6u); // byte offsets in the UTF-8 text
    EXPECT_EQ(match->text(), "no wait");
    EXPECT_EQ(match->group(2), "wait");
    // From inside "snow", "\b" still sees the "s" before the offset: no match at "now".
    match = cue.firstMatch(text, text.find("now"));
    ASSERT_TRUE(match);
    EXPECT_EQ(match->text(), "wait no");
    EXPECT_EQ(text.substr(match->begin, match->end - match->begin), "wait no");
    EXPECT_FALSE(cue.firstMatch(text, match->end));
    EXPECT_FALSE(cue.firstMatch(text, text.size() + 1));
    // A look-behind reaches before the offset too.
    const Regex afterDigit("(?<=\\d)x");
    EXPECT_EQ(afterDigit.firstMatch("5x", 1)->begin, 1u);
    EXPECT_FALSE(Regex("(").firstMatch("("));
}

TEST(CompiledRegex, AllMatchesFullMatchAndComputedReplacements) {
    const Regex word("(?i)\\b(mon|tue)day\\b");
    const auto all = word.allMatches("\xc3\xa9 MONDAY, tuesday, tueday");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].begin, 3u);
    EXPECT_EQ(all[1].group(1), "tue");
    EXPECT_EQ(word.replaceEach("see you monday or TUEDAY",
                               [](const RegexMatch& m) { return "[" + m.group(1) + "$1\\]"; }),
              "see you [mon$1\\] or [TUE$1\\]");
    EXPECT_EQ(word.replaceEach("nothing", [](const RegexMatch&) { return std::string("x"); }),
              "nothing");
    EXPECT_TRUE(Regex("(?i)hi [a-z]+").fullMatch("Hi Sarah"));
    EXPECT_FALSE(Regex("(?i)hi [a-z]+").fullMatch("Hi Sarah."));
    EXPECT_FALSE(Regex("(").fullMatch("("));
}

TEST(CompiledRegex, OffsetsReferToTheBytesAsGivenWhateverTheyAre) {
    // Ill-formed bytes read as U+FFFD but keep their own width: every later offset stays put.
    const Regex word("\\w+");
    for (const std::string text : {"caf\xe9 au lait", "\xff\xfe ok \xc3 x \xf0\x9f\x91 end",
                                   "\xc3\xa9t\xc3\xa9 \xed\xa0\x80 last", "no bad bytes"}) {
        const auto matches = word.allMatches(text);
        ASSERT_FALSE(matches.empty()) << text;
        for (const RegexMatch& m : matches)
            EXPECT_EQ(text.substr(m.begin, m.end - m.begin), m.text()) << text;
        EXPECT_EQ(matches.back().text(), text.substr(text.rfind(' ') + 1));
        EXPECT_EQ(word.replaceEach(text, [](const RegexMatch& m) { return m.text(); }), text);
        EXPECT_EQ(regexAllMatches(text, "\\w+").size(), matches.size());
    }
}

TEST(CompiledRegex, GivingUpIsReportedAndARuleFallsBack) {
    // One backtracking frame per repeat: far past ICU's stack.
    std::string run;
    for (int i = 0; i < 400000; ++i)
        run += "ab ";
    const Regex repeats("(ab)(?:\\s+\\1)+");
    test::LogCapture log;
    EXPECT_FALSE(repeats.tryReplace(run, "$1"));
    EXPECT_EQ(repeats.replace(run, "$1"), run);
    EXPECT_TRUE(log.has(LogLevel::warning, "gave up on 1200000 bytes (U_REGEX_STACK_OVERFLOW)"));
    EXPECT_FALSE(repeats.search(run));

    const RegexRule rule{repeats, "$1", [](std::string_view) { return std::string("done"); }};
    EXPECT_EQ(rule.apply(run), "done");
    EXPECT_EQ(rule.apply("ab ab"), "ab");
    EXPECT_TRUE(log.has(LogLevel::warning, "done without the pattern"));
}

TEST(RegexCache, PatternsStayValidWhileAFullCacheIsCleared) {
    // One thread pushes the cache past its bound again and again, so it is cleared while the
    // others are in the middle of matching with patterns it held.
    std::atomic<bool> churning{true};
    std::thread churn([&] {
        for (int i = 0; i < 12000; ++i)
            regexSearch("x", "unique" + std::to_string(i));
        churning = false;
    });
    std::atomic<int> wrong{0};
    std::vector<std::thread> matchers;
    for (int t = 0; t < 3; ++t) {
        matchers.emplace_back([&] {
            while (churning) {
                if (regexReplace("a long line of text to scan through", "\\bscan\\b", "read") !=
                    "a long line of text to read through")
                    ++wrong;
            }
        });
    }
    churn.join();
    for (auto& t : matchers)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
} // namespace vak
