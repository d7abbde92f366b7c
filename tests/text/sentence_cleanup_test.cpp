#include "support/log_capture.h"
#include "text/collapse_repeats.h"
#include "text/self_corrections.h"
#include "text/sentence_casing.h"
#include "text/sentence_cleanup.h"
#include "text/spoken_filler.h"
#include "text/spoken_units.h"
#include "text/word_forms.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using List = std::vector<std::string>;
using Stage = std::string (*)(std::string_view);

std::string repeat(const std::string& phrase, int times) {
    std::string out = phrase;
    for (int i = 1; i < times; ++i)
        out += " " + phrase;
    return out;
}
constexpr Stage loops = [](std::string_view t) { return collapseRepeats(t, Repeats::loops); };
constexpr Stage closed = [](std::string_view t) { return capitalizeSentences(t, Closing::period); };

// Every test starts with the locale variables cleared; what was there is put back.
class SentenceCleanup : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kNames) {
            if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : kNames)
            unsetenv(name);
        for (const auto& [name, value] : saved)
            setenv(name, value.c_str(), 1);
    }
    static constexpr const char* kNames[] = {"LC_ALL", "LC_NUMERIC", "LANG"};
    std::vector<std::pair<const char*, std::string>> saved;
};

TEST_F(SentenceCleanup, EachStageOnItsTable) {
    std::string marks;
    for (int i = 0; i < 40; ++i)
        marks += "\xcc\x81";
    const struct {
        Stage stage;
        std::string input, expected;
    } cases[] = {
        {resolveSelfCorrections, "meet on Tuesday no wait Wednesday", "meet on Wednesday"},
        {resolveSelfCorrections, "we need three chairs, four tables no wait five tables and two",
         "we need three chairs, five tables and two"},
        // Four words are a long correction: the clause after the comma goes.
        {resolveSelfCorrections,
         "we need chairs, go buy red paint now no wait buy blue paint instead",
         "we need chairs, buy blue paint instead"},
        // A cut keeps a word whole with its combining marks, so a cue glued to it is no cue.
        {resolveSelfCorrections, "longer" + marks + "wait, no, x, no wait, we keep a long one",
         "longer" + marks + "wait, no, x, we keep a long one"},
        {resolveSelfCorrections, "a scratch that b scratch that c d e f g", "c d e f g"},
        {resolveSelfCorrections, "the plan is to go left no actually we go right at the fork",
         "we go right at the fork"},
        {stripSpokenFiller, "So basically, we should, like, ship it, you know what I mean?",
         "we should, ship it?"},
        {stripSpokenFiller, "we have the tools and stuff like that.", "we have the tools."},
        {stripSpokenFiller, "So.", "So."}, // an opener needs something after it
        {loops, repeat("go", 6), "go"},
        {loops, repeat("go", 5), repeat("go", 5)},
        {loops, repeat("thank you", 4), repeat("thank you", 4)},
        {loops, repeat("see you soon", 4), "see you soon"},
        {loops, repeat("a b c d e f g", 4), repeat("a b c d e f g", 4)}, // seven words: no loop
        {loops, "start " + repeat("we will", 6) + " end", "start we will end"},
        {loops, "Thank you, thank you. THANK YOU thank you! (thank you)", "Thank you,"},
        {loops, repeat("to be", 50000), "to be"}, // huge loops stay linear
        {fixContractions, "Dont worry, its fine", "don't worry, its fine"},
        {fixContractions, "i think im sure, i.e. twice", "I think I'm sure, i.e. twice"},
        {fixContractions, "Im not, couldve dontcha", "Im not, could've dontcha"},
        {formatSpokenUnits, "It grew 12.5 percent to 1500 dollars by 3pm",
         "It grew 12.5% to $1,500 by 3 PM"},
        {formatSpokenUnits, "at 10:30 am, 1234567890 dollars", "at 10:30 AM, 1234567890 dollars"},
        {formatSpokenUnits, "\xd9\xa5 dollars", "\xd9\xa5 dollars"}, // another script's digit
        {capitalizeCalendar, "FRIDAY the 13th of SEPTEMBER, may be",
         "Friday the 13th of September, may be"},
        {closed, "\xc3\xa9t\xc3\xa9 ici", "\xc3\x89t\xc3\xa9 ici."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.stage(c.input), c.expected) << c.input.substr(0, 80);

    // Stutters, alone in their text: the filler stage and the pattern-free rule agree on each.
    const std::pair<const char*, const char*> repeated[] = {
        {"The THE the plan", "The plan"},
        {"an an apple and and a a pear", "an apple and a pear"},
        {"it it's in in\tin\nin here", "it's in here"},
        {"then the the theme", "then the theme"},
        {"is i\xc5\xbf fine", "is fine"},               // long s folds to s, as "(?i)" has it
        {"the the\xcc\x81 end", "the the\xcc\x81 end"}, // a combining mark extends the word
        {"withwith with with", "withwith with"},
    };
    for (const auto& [input, expected] : repeated) {
        EXPECT_EQ(stripSpokenFiller(input), expected);
        EXPECT_EQ(collapseRepeats(input, Repeats::stutters), expected);
    }
}

TEST_F(SentenceCleanup, SentencesSplitOnlyBeforeBlanksAndACapitalOrDigitAndAreEachCleaned) {
    EXPECT_EQ(splitIntoSentences("It works. the next part"), List{"It works. the next part"});
    EXPECT_EQ(splitIntoSentences("It works.\nThe next part"), List{"It works.\nThe next part"});
    EXPECT_EQ(splitIntoSentences("Pi is 3.5 today. 42 people came!  Really?   "),
              (List{"Pi is 3.5 today.", "42 people came!", "Really?"}));
    EXPECT_EQ(splitIntoSentences("Wait... What?! \xc3\x89t\xc3\xa9 ok."),
              (List{"Wait...", "What?!", "\xc3\x89t\xc3\xa9 ok."}));
    EXPECT_EQ(splitIntoSentences("   \t "), List{});
    // Every stage runs on each sentence, and what became empty is dropped.
    EXPECT_EQ(cleanedSentences("Okay so dont forget the the 1500 dollars. Scratch that. "
                               "At 3pm we meet on tuesday no wait friday."),
              (List{"don't forget the $1,500.", "At 3 PM we meet on Friday."}));
    EXPECT_EQ(cleanedSentences("caf\xe9 is open"), List{"caf\xef\xbf\xbd is open"});
}

TEST_F(SentenceCleanup, HugeOrOddInputStaysLinearAndWhole) {
    // A megabyte of cues, each cutting back to the last comma: resolving each by moving the
    // rest of the text was quadratic.
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "item " + std::to_string(i) + " goes in the box, ";
    std::string input = text;
    for (int i = 0; i < 20000; ++i)
        input += "we pick red no wait blue for the cover of part " + std::to_string(i) + " ";
    EXPECT_EQ(resolveSelfCorrections(input + "done"),
              text.substr(0, text.size() - 2) + ", blue for the cover of part 19999 done");
    // Past a few hundred thousand repeats the pattern exhausts ICU's stack; the stage still
    // collapses the run and says it did it the other way.
    test::LogCapture log;
    EXPECT_EQ(stripSpokenFiller("we" + repeat(" the", 400000) + " plan"), "we the plan");
    EXPECT_TRUE(log.has(LogLevel::warning, "done without the pattern"));
    // A megabyte of blanks is one loop for every other rule, never a frame per character.
    EXPECT_EQ(stripSpokenFiller("well, " + std::string(1'000'000, ' ') + "x \t y"), "x y");
    EXPECT_FALSE(log.has(LogLevel::warning, "gave up"));
}

TEST_F(SentenceCleanup, MoneyGroupsDigitsInTheUsersLocale) {
    const struct {
        const char *variable, *value, *locale, *money;
    } rows[] = {
        {nullptr, nullptr, "en_US", "$1,500,000"},
        {"LANG", "de_DE.UTF-8", "de_DE", "$1.500.000"},
        {"LC_NUMERIC", "fr_FR.UTF-8@euro", "fr_FR", "$1\u202f500\u202f000"},
        {"LC_ALL", "C.UTF-8", "en_US", "$1,500,000"}, // POSIX names no grouping
    };
    for (const auto& row : rows) {
        if (row.variable) setenv(row.variable, row.value, 1);
        EXPECT_EQ(numberLocaleName(), row.locale);
        EXPECT_EQ(formatSpokenMoney("1500000 dollars"), row.money) << row.locale;
    }
}

} // namespace
} // namespace vak
