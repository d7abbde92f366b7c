#include "support/log_capture.h"
#include "text/collapse_repeats.h"
#include "text/self_corrections.h"
#include "text/sentence_casing.h"
#include "text/sentence_cleanup.h"
#include "text/spoken_filler.h"
#include "text/spoken_units.h"
#include "text/word_forms.h"
#include "text_cases.h"

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::expectAll;

// Clears the locale variables for one test and puts back what was there.
class LocaleEnvironment {
  public:
    LocaleEnvironment() {
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            if (const char* value = std::getenv(kNames[i])) saved_[i] = value;
            unsetenv(kNames[i]);
        }
    }
    ~LocaleEnvironment() {
        for (std::size_t i = 0; i < kNames.size(); ++i)
            saved_[i] ? setenv(kNames[i], saved_[i]->c_str(), 1) : unsetenv(kNames[i]);
    }
    void set(const char* name, const char* value) { setenv(name, value, 1); }

  private:
    static constexpr std::array<const char*, 3> kNames = {"LC_ALL", "LC_NUMERIC", "LANG"};
    std::array<std::optional<std::string>, 3> saved_;
};

TEST(SplitIntoSentences, EndsOnlyBeforeBlanksAndACapitalOrDigit) {
    using List = std::vector<std::string>;
    EXPECT_EQ(splitIntoSentences("It works. the next part"), List{"It works. the next part"});
    EXPECT_EQ(splitIntoSentences("It works. The next part"), (List{"It works.", "The next part"}));
    EXPECT_EQ(splitIntoSentences("It works.\nThe next part"), List{"It works.\nThe next part"});
    EXPECT_EQ(splitIntoSentences("Pi is 3.5 today. 42 people came!  Really?   "),
              (List{"Pi is 3.5 today.", "42 people came!", "Really?"}));
    EXPECT_EQ(splitIntoSentences("See the U.S. Office. e.g. this one"),
              (List{"See the U.S.", "Office. e.g. this one"}));
    EXPECT_EQ(splitIntoSentences("Wait... What?! \xc3\x89t\xc3\xa9 ok."),
              (List{"Wait...", "What?!", "\xc3\x89t\xc3\xa9 ok."}));
    EXPECT_EQ(splitIntoSentences("   \t "), List{});
    EXPECT_EQ(splitIntoSentences(". . ."), (List{". . ."}));
}

TEST(ResolveSelfCorrections, ShortCorrectionsReplaceWordsLongOnesReplaceTheClause) {
    expectAll(resolveSelfCorrections,
              {
                  {"meet on Tuesday no wait Wednesday", "meet on Wednesday"},
                  {"Tuesday, no wait, Wednesday", "Wednesday"},
                  {"we need three chairs, four tables no wait five tables and two lamps",
                   "we need three chairs, five tables and two lamps"},
                  {"send it to John, actually no, send it to Mary and Sue today",
                   "send it to John, send it to Mary and Sue today"},
                  {"scratch that", ""},
                  {"call Bob scratch that call Alice", "call Alice"},
                  // Two-word correction, and a short text before the cue loses all of it.
                  {"at five pm wait no six thirty", "at six thirty"},
                  {"hi no wait hello there friend", "hello there friend"},
                  // A long correction with no comma before it keeps only the correction.
                  {"the plan is to go left no actually we go right at the fork",
                   "we go right at the fork"},
                  // Cues one after another, each resolved in turn.
                  {"lunch at noon, dinner at six no wait seven and then drinks at nine, "
                   "breakfast at eight scratch that at ten for the whole team tomorrow",
                   "lunch at noon, seven and then drinks at nine, at ten for the whole team "
                   "tomorrow"},
                  {"a scratch that b scratch that c d e f g", "c d e f g"},
                  {"nothing to correct here", "nothing to correct here"},
                  {"snowy wait nothing", "snowy wait nothing"}, // cue words inside other words
              });
    // A cut keeps a word whole with its combining marks, so the cue glued to it stays no cue.
    std::string marks;
    for (int i = 0; i < 40; ++i)
        marks += "\xcc\x81";
    EXPECT_EQ(resolveSelfCorrections("longer" + marks + "wait, no, x, no wait, we keep a long one"),
              "longer" + marks + "wait, no, x, we keep a long one");
}

TEST(ResolveSelfCorrections, ManyCuesInOneLongRunMatchResolvingOneAtATime) {
    // Each cue cuts back to the last comma before it; the result must equal resolving the
    // cues one by one from the start.
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "item " + std::to_string(i) + " goes in the box, ";
    std::string input = text;
    // A megabyte of them: resolving each by moving the rest of the text was quadratic.
    for (int i = 0; i < 20000; ++i)
        input += "we pick red no wait blue for the cover of part " + std::to_string(i) + " ";
    input += "done";
    const std::string out = resolveSelfCorrections(input);
    // Every cue replaced the clause after the last comma, so only the text up to the last
    // comma and the final correction survive.
    EXPECT_EQ(out, text.substr(0, text.size() - 2) + ", blue for the cover of part 19999 done");
}

TEST(StripSpokenFiller, OpenersFillersHedgesAndStutters) {
    expectAll(stripSpokenFiller,
              {
                  {"So basically, we should, like, ship it, you know what I mean?",
                   "we should, ship it?"},
                  {"the the plan is is fine", "the plan is fine"},
                  {"the the the plan", "the plan"},
                  {"okay so um, yeah we go", "we go"},
                  {"Well, it depends, I guess, on the weather", "it depends, on the weather"},
                  {"we have the tools and stuff like that.", "we have the tools."},
                  {"it works if that makes sense", "it works"},
                  {"literally, nothing   changed", "nothing changed"},
                  {"theory then the theme", "theory then the theme"},
                  {"So.", "So."}, // an opener needs something after it
                  {"  ", ""},
              });
}

TEST(StripSpokenFiller, StuttersCollapseTheSameWithoutThePattern) {
    // Rows with no other filler, so the stage and the pattern-free rule must agree on each.
    const std::vector<test::TextCase> rows = {
        {"The THE the plan", "The plan"},
        {"an an apple and and a a pear", "an apple and a pear"},
        {"it it's in in\tin\nin here", "it's in here"},
        {"then the the theme", "then the theme"},
        {"is i\xc5\xbf fine", "is fine"},               // long s folds to s, as "(?i)" has it
        {"the the\xcc\x81 end", "the the\xcc\x81 end"}, // a combining mark extends the word
        {"withwith with with", "withwith with"},
    };
    expectAll(stripSpokenFiller, rows);
    expectAll([](const char* t) { return collapseRepeats(t, Repeats::stutters); }, rows);

    // Past a few hundred thousand repeats the pattern exhausts ICU's stack; the stage still
    // collapses the run and says it did it the other way.
    test::LogCapture log;
    std::string run = "we";
    for (int i = 0; i < 400000; ++i)
        run += " the";
    EXPECT_EQ(stripSpokenFiller(run + " plan"), "we the plan");
    EXPECT_TRUE(log.has(LogLevel::warning, "done without the pattern"));

    // A megabyte of blanks is one loop for every other rule, never a frame per character.
    EXPECT_EQ(stripSpokenFiller("well, " + std::string(1'000'000, ' ') + "x \t y"), "x y");
    EXPECT_FALSE(log.has(LogLevel::warning, "gave up"));
}

TEST(FixContractions, TableRowsAndPronouns) {
    expectAll(fixContractions,
              {
                  {"Dont worry, its fine", "don't worry, its fine"},
                  {"i think im sure ive seen it, i.e. twice",
                   "I think I'm sure I've seen it, i.e. twice"},
                  {"so do i.", "so do I."},
                  {"Im not, IVE", "Im not, IVE"}, // the pronoun rows are case-sensitive
                  {"THATS what youre saying, theyll see", "that's what you're saying, they'll see"},
                  {"couldve itll theyd", "could've it'll they'd"},
                  {"dontcha cantaloupe", "dontcha cantaloupe"},
              });
}

TEST(FormatSpokenUnits, MoneyPercentAndClockTimes) {
    LocaleEnvironment env;
    expectAll(
        formatSpokenUnits,
        {
            {"It grew 12.5 percent to 1500 dollars by 3pm", "It grew 12.5% to $1,500 by 3 PM"},
            {"at 10:30 am and 7 PM, 12 Dollars", "at 10:30 AM and 7 PM, $12"},
            {"999999999 dollars", "$999,999,999"},
            {"1234567890 dollars", "1234567890 dollars"}, // more than nine digits
            // The tail of a number already written stays as it is.
            {"1,500 dollars and 2.5 dollars", "1,500 dollars and 2.5 dollars"},
            {"50 Percent off at 5 amps", "50 Percent off at 5 amps"},
            // Digits of another script match but do not parse.
            {"\xd9\xa5 dollars", "\xd9\xa5 dollars"},
        });
}

TEST(FormatSpokenMoney, GroupsDigitsInTheUsersLocale) {
    LocaleEnvironment env;
    EXPECT_EQ(numberLocaleName(), "en_US");
    EXPECT_EQ(formatSpokenMoney("1500 dollars"), "$1,500");

    env.set("LANG", "de_DE.UTF-8");
    EXPECT_EQ(numberLocaleName(), "de_DE");
    EXPECT_EQ(formatSpokenMoney("1500 dollars"), "$1.500");
    env.set("LC_NUMERIC", "fr_FR.UTF-8@euro");
    EXPECT_EQ(numberLocaleName(), "fr_FR");
    EXPECT_EQ(formatSpokenMoney("1500000 dollars"), "$1\xe2\x80\xaf"
                                                    "500\xe2\x80\xaf"
                                                    "000");
    env.set("LC_ALL", "en_GB.UTF-8");
    EXPECT_EQ(formatSpokenMoney("2500 dollars"), "$2,500");
    // The POSIX locale names no grouping; the default applies.
    env.set("LC_ALL", "C.UTF-8");
    EXPECT_EQ(numberLocaleName(), "en_US");
}

TEST(CapitalizeCalendar, DaysAndMonthsButNotMarchOrMay) {
    expectAll(capitalizeCalendar,
              {
                  {"see you on monday in march", "see you on Monday in march"},
                  {"FRIDAY the 13th of SEPTEMBER, may be", "Friday the 13th of September, may be"},
                  {"sundays and mondaynight", "sundays and mondaynight"},
                  {"tuesday wednesday thursday saturday january february april june july "
                   "august october november december",
                   "Tuesday Wednesday Thursday Saturday January February April June July August "
                   "October November December"},
              });
}

TEST(SentenceCased, CapitalAndClosingMark) {
    expectAll([](const char* t) { return capitalizeSentences(t, Closing::period); },
              {
                  {"hello world", "Hello world."},
                  {"is it?", "Is it?"},
                  {"note:", "Note:"},
                  {"  wow! \t", "Wow!"},
                  {"\xc3\xa9t\xc3\xa9 ici", "\xc3\x89t\xc3\xa9 ici."},
                  {"", ""},
                  {" \t", ""},
              });
}

TEST(CleanedSentences, RunsEveryStageAndDropsWhatBecameEmpty) {
    using List = std::vector<std::string>;
    LocaleEnvironment env;
    EXPECT_EQ(cleanedSentences("Okay so dont forget the the 1500 dollars. Scratch that. "
                               "At 3pm we meet on tuesday no wait friday."),
              (List{"don't forget the $1,500.", "At 3 PM we meet on Friday."}));
    EXPECT_EQ(cleanedSentences(""), List{});
    // Bytes that are not UTF-8 become U+FFFD instead of breaking a stage.
    EXPECT_EQ(cleanedSentences("caf\xe9 is open"), List{"caf\xef\xbf\xbd is open"});
}

} // namespace
} // namespace vak
