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

using List = std::vector<std::string>;
using test::expectAll;

std::string repeat(const std::string& phrase, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += (i > 0 ? " " : "") + phrase;
    return out;
}

// Every test starts with the locale variables cleared; what was there is put back.
class SentenceCleanup : public testing::Test {
  protected:
    SentenceCleanup() {
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            if (const char* value = std::getenv(kNames[i])) saved_[i] = value;
            unsetenv(kNames[i]);
        }
    }
    ~SentenceCleanup() override {
        for (std::size_t i = 0; i < kNames.size(); ++i)
            saved_[i] ? setenv(kNames[i], saved_[i]->c_str(), 1) : unsetenv(kNames[i]);
    }

  private:
    static constexpr std::array<const char*, 3> kNames = {"LC_ALL", "LC_NUMERIC", "LANG"};
    std::array<std::optional<std::string>, 3> saved_;
};

TEST_F(SentenceCleanup, SplitsOnlyBeforeBlanksAndACapitalOrDigit) {
    EXPECT_EQ(splitIntoSentences("It works. the next part"), List{"It works. the next part"});
    EXPECT_EQ(splitIntoSentences("It works.\nThe next part"), List{"It works.\nThe next part"});
    EXPECT_EQ(splitIntoSentences("Pi is 3.5 today. 42 people came!  Really?   "),
              (List{"Pi is 3.5 today.", "42 people came!", "Really?"}));
    EXPECT_EQ(splitIntoSentences("See the U.S. Office. e.g. this one"),
              (List{"See the U.S.", "Office. e.g. this one"}));
    EXPECT_EQ(splitIntoSentences("Wait... What?! \xc3\x89t\xc3\xa9 ok."),
              (List{"Wait...", "What?!", "\xc3\x89t\xc3\xa9 ok."}));
    EXPECT_EQ(splitIntoSentences("   \t "), List{});
}

TEST_F(SentenceCleanup, SelfCorrectionsReplaceWordsOrTheClause) {
    expectAll(resolveSelfCorrections,
              {
                  {"meet on Tuesday no wait Wednesday", "meet on Wednesday"},
                  {"Tuesday, no wait, Wednesday", "Wednesday"},
                  {"we need three chairs, four tables no wait five tables and two lamps",
                   "we need three chairs, five tables and two lamps"},
                  // Four words are a long correction: the clause after the comma goes.
                  {"we need chairs, go buy red paint now no wait buy blue paint instead",
                   "we need chairs, buy blue paint instead"},
                  {"call Bob scratch that call Alice", "call Alice"},
                  {"at five pm wait no six thirty", "at six thirty"},
                  {"the plan is to go left no actually we go right at the fork",
                   "we go right at the fork"},
                  {"a scratch that b scratch that c d e f g", "c d e f g"},
                  {"snowy wait nothing", "snowy wait nothing"}, // cue words inside other words
              });
    // A cut keeps a word whole with its combining marks, so the cue glued to it stays no cue.
    std::string marks;
    for (int i = 0; i < 40; ++i)
        marks += "\xcc\x81";
    EXPECT_EQ(resolveSelfCorrections("longer" + marks + "wait, no, x, no wait, we keep a long one"),
              "longer" + marks + "wait, no, x, we keep a long one");
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
}

TEST_F(SentenceCleanup, FillerGoesAndStuttersCollapseTheSameWithoutThePattern) {
    expectAll(stripSpokenFiller,
              {
                  {"So basically, we should, like, ship it, you know what I mean?",
                   "we should, ship it?"},
                  {"okay so um, yeah we go", "we go"},
                  {"Well, it depends, I guess, on the weather", "it depends, on the weather"},
                  {"we have the tools and stuff like that.", "we have the tools."},
                  {"literally, nothing   changed", "nothing changed"},
                  {"So.", "So."}, // an opener needs something after it
              });
    // Rows with no other filler, so the stage and the pattern-free rule must agree on each.
    const std::vector<test::TextCase> stutters = {
        {"The THE the plan", "The plan"},
        {"an an apple and and a a pear", "an apple and a pear"},
        {"it it's in in\tin\nin here", "it's in here"},
        {"then the the theme", "then the theme"},
        {"is i\xc5\xbf fine", "is fine"},               // long s folds to s, as "(?i)" has it
        {"the the\xcc\x81 end", "the the\xcc\x81 end"}, // a combining mark extends the word
        {"withwith with with", "withwith with"},
    };
    expectAll(stripSpokenFiller, stutters);
    expectAll([](const char* t) { return collapseRepeats(t, Repeats::stutters); }, stutters);

    // Past a few hundred thousand repeats the pattern exhausts ICU's stack; the stage still
    // collapses the run and says it did it the other way.
    test::LogCapture log;
    EXPECT_EQ(stripSpokenFiller("we" + repeat(" the", 400000) + " plan"), "we the plan");
    EXPECT_TRUE(log.has(LogLevel::warning, "done without the pattern"));
    // A megabyte of blanks is one loop for every other rule, never a frame per character.
    EXPECT_EQ(stripSpokenFiller("well, " + std::string(1'000'000, ' ') + "x \t y"), "x y");
    EXPECT_FALSE(log.has(LogLevel::warning, "gave up"));
}

TEST_F(SentenceCleanup, RecogniserLoopsCollapseByPhraseLength) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {repeat("go", 6), "go"},
        {repeat("go", 5), repeat("go", 5)},
        {repeat("thank you", 5), "thank you"},
        {repeat("thank you", 4), repeat("thank you", 4)},
        {repeat("see you soon", 4), "see you soon"},
        {repeat("see you soon", 3), repeat("see you soon", 3)},
        {repeat("one two three four five six", 4), "one two three four five six"},
        {repeat("a b c d e f g", 4), repeat("a b c d e f g", 4)}, // seven words: never a loop
        {"start " + repeat("we will", 6) + " end", "start we will end"},
        // The first copy is kept as it was written.
        {"Thank you, thank you. THANK YOU thank you! (thank you)", "Thank you,"},
        // Short texts come back as they were, longer ones with single spaces.
        {"  hi   hi  hi ", "  hi   hi  hi "},
        {"  one  two three   four ", "one two three four"},
        {repeat("to be", 50000), "to be"}, // huge loops stay linear
    };
    test::LogCapture log;
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(collapseRepeats(input, Repeats::loops), expected) << input.substr(0, 80);
    EXPECT_EQ(log.messages().size(), 7u); // one line for each text it collapsed
}

TEST_F(SentenceCleanup, ContractionsUnitsCalendarWordsAndClosedSentences) {
    expectAll(fixContractions,
              {
                  {"Dont worry, its fine", "don't worry, its fine"},
                  {"i think im sure ive seen it, i.e. twice",
                   "I think I'm sure I've seen it, i.e. twice"},
                  {"Im not, IVE", "Im not, IVE"}, // the pronoun rows are case-sensitive
                  {"couldve itll theyd", "could've it'll they'd"},
                  {"dontcha cantaloupe", "dontcha cantaloupe"},
              });
    expectAll(
        formatSpokenUnits,
        {
            {"It grew 12.5 percent to 1500 dollars by 3pm", "It grew 12.5% to $1,500 by 3 PM"},
            {"at 10:30 am and 7 PM, 12 Dollars", "at 10:30 AM and 7 PM, $12"},
            {"1234567890 dollars", "1234567890 dollars"}, // more than nine digits
            // The tail of a number already written stays as it is.
            {"1,500 dollars and 2.5 dollars", "1,500 dollars and 2.5 dollars"},
            {"\xd9\xa5 dollars", "\xd9\xa5 dollars"}, // another script's digit
        });
    expectAll(capitalizeCalendar,
              {
                  {"see you on monday in march", "see you on Monday in march"},
                  {"FRIDAY the 13th of SEPTEMBER, may be", "Friday the 13th of September, may be"},
                  {"sundays and mondaynight", "sundays and mondaynight"},
              });
    expectAll([](const char* t) { return capitalizeSentences(t, Closing::period); },
              {
                  {"hello world", "Hello world."},
                  {"is it?", "Is it?"},
                  {"note;", "Note."},
                  {"  wow! \t", "Wow!"},
                  {"\xc3\xa9t\xc3\xa9 ici", "\xc3\x89t\xc3\xa9 ici."},
                  {" \t", ""},
              });
}

TEST_F(SentenceCleanup, MoneyGroupsDigitsInTheUsersLocale) {
    const struct {
        const char* variable;
        const char* value;
        const char* locale;
        const char* money;
    } rows[] = {
        {nullptr, nullptr, "en_US", "$1,500,000"},
        {"LANG", "de_DE.UTF-8", "de_DE", "$1.500.000"},
        {"LC_NUMERIC", "fr_FR.UTF-8@euro", "fr_FR",
         "$1\xe2\x80\xaf"
         "500\xe2\x80\xaf"
         "000"},
        {"LC_ALL", "en_GB.UTF-8", "en_GB", "$1,500,000"},
        {"LC_ALL", "C.UTF-8", "en_US", "$1,500,000"}, // POSIX names no grouping
    };
    for (const auto& row : rows) {
        if (row.variable) setenv(row.variable, row.value, 1);
        EXPECT_EQ(numberLocaleName(), row.locale);
        EXPECT_EQ(formatSpokenMoney("1500000 dollars"), row.money) << row.locale;
    }
}

TEST_F(SentenceCleanup, CleanedSentencesRunEveryStageAndDropWhatBecameEmpty) {
    EXPECT_EQ(cleanedSentences("Okay so dont forget the the 1500 dollars. Scratch that. "
                               "At 3pm we meet on tuesday no wait friday."),
              (List{"don't forget the $1,500.", "At 3 PM we meet on Friday."}));
    // Bytes that are not UTF-8 become U+FFFD instead of breaking a stage.
    EXPECT_EQ(cleanedSentences("caf\xe9 is open"), List{"caf\xef\xbf\xbd is open"});
}

} // namespace
} // namespace vak
