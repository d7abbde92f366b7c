#include "base/regex.h"
#include "support/log_capture.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

// A "$" not followed by a digit is a "$"; digits after a group number stay literal once they
// would name a missing group; a group that did not take part inserts nothing; an invalid pattern
// leaves the text as it is.
TEST(RegexReplace, TemplatesFlagsEmptyMatchesAndInvalidPatterns) {
    struct Case {
        std::string text;
        std::string pattern;
        std::string tmpl;
        std::string expected;
    };
    const Case cases[] = {
        {"john smith", "(\\w+) (\\w+)", "$2, $1", "smith, john"},
        {"cost 5", "(\\d)", "\\$$1", "cost $5"},
        {"x", "(x)", templateEscape("$1 and \\n"), "$1 and \\n"},
        {"ab", "(a)(b)", "$10", "a0"},
        {"b", "(a)?b", "[$1]", "[]"},
        {"keep (me)", "(unclosed", "x", "keep (me)"},
        {"abc", "x*", "-", "-a-b-c-"},
        {"caf\xc3\xa9 \xf0\x9f\x91\x8d ok", "\\s+", "_", "caf\xc3\xa9_\xf0\x9f\x91\x8d_ok"},
        {"use node.js now", regexEscape("node.js"), "Node.js", "use Node.js now"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(regexReplace(c.text, c.pattern, c.tmpl), c.expected) << c.pattern;
    EXPECT_EQ(regexReplace("Dog dog", "dog", "cat", RegexFlags::CaseInsensitive), "cat cat");
    EXPECT_FALSE(regexIsValid("[a-"));
    EXPECT_FALSE(regexSearch("anything", "(?<=a+)b")); // unbounded look-behind
    const std::string tricky = "C++ (v2.0) [beta] ^$ | a*b? {3} \\d ok.";
    EXPECT_TRUE(regexFullMatch(tricky, regexEscape(tricky)));
    EXPECT_FALSE(regexSearch("nodexjs", regexEscape("node.js")));
}

// Ill-formed bytes read as U+FFFD but keep their own width: every later offset stays put.
TEST(CompiledRegex, OffsetsReferToTheBytesAsGivenWhateverTheyAre) {
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

// One backtracking frame per repeat: far past ICU's stack.
TEST(CompiledRegex, GivingUpIsReportedAndARuleFallsBack) {
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

// One thread pushes the cache past its bound again and again while others match with its patterns.
TEST(RegexCache, PatternsStayValidWhileAFullCacheIsCleared) {
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
