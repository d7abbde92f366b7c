#include "base/unicode.h"
#include "support/temp_dir.h"
#include "text/agent_brief.h"
#include "text/formatting.h"
#include "text/local_command.h"
#include "text/local_modes.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using List = std::vector<std::string>;
using Stage = std::string (*)(std::string_view);

TEST(LocalModes, EachModeAndStageOnItsTable) {
    const std::string row1 = "- What should the loading, empty, and error states look like?";
    const std::string row2 = "- What are the auth, rate limit, and error response expectations?";
    const std::string doneQuestion = "- What does done look like, concretely?";
    const std::string edge = "- What should happen when the input is empty, missing, or malformed?";
    const std::string keep = "- Is there anything that must not change?";
    const struct {
        Stage stage;
        std::string input, expected;
    } cases[] = {
        {inferQuestion, "How long does it take.", "How long does it take?"},
        {inferQuestion, "Candy is sweet.", "Candy is sweet."},
        {localProfessional, "Hi team. Alpha went. Bravo went. Charlie went. Delta went. Cheers.",
         "Hi Team,\n\nAlpha went. Bravo went. Charlie went.\n\nDelta went.\n\nCheers."},
        // Only short greetings and sign-offs stand apart; a run-on splits where both sides have
        // four words.
        {localProfessional, "Hello there my friend. Say hi sarah. Thanks for all the help.",
         "Hello there my friend. Say hi sarah. Thanks for all the help."},
        {localProfessional, "Okay so um we should meet on tuesday no wait wednesday. Thats fine.",
         "We should meet on Wednesday. That's fine."},
        {localProfessional,
         "we shipped the new build this morning, and the crash reports "
         "dropped to zero overnight",
         "We shipped the new build this morning. The crash reports dropped to zero overnight."},
        {localSummarize,
         "First we fix the login. Second we update the docs. We decided to ship "
         "friday. Remember to email legal.",
         "- We fix the login.\n- We update the docs.\n\nDecisions\n- We decided to ship "
         "Friday.\n\nAction items\n- Remember to email legal."},
        // Two sentences never collect decisions or actions.
        {localSummarize, "We decided to ship friday. Remember to email legal.",
         "We decided to ship Friday. Remember to email legal."},
        {localSummarize, "The release is on track. By the way, the office moves. Boxes come.",
         "The release is on track.\n\nThe office moves. Boxes come."},
        {localExpand, "fix the crash so that the page does not break; do not touch the api",
         "Fix the crash so that the page does not break; do not touch the api.\n\nOpen "
         "questions:\n" +
             row1 + "\n" + row2},
        {localExpand, "", "Open questions:\n" + doneQuestion + "\n" + edge + "\n" + keep},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.stage(c.input), c.expected) << c.input;
}

TEST(LocalModes, NumbersAreGuardedAndPlainModesLeaveTheText) {
    EXPECT_EQ(numberTokens("Pay $1,500 by May 3, version 2.0.1 and 7. Or 1,2,3."),
              (List{"1,500", "3", "2.0.1", "7", "1,2,3"}));
    EXPECT_EQ(factGuardrail("Pay $1,500 by May 3.", "$1,500 due May 3"), "$1,500 due May 3");
    EXPECT_EQ(factGuardrail("Pay $1,500 by May 3.", "Pay $1500 by May 3."),
              "Pay $1,500 by May 3."); // compared as written
    // A summary that turns "step 3" into a list item loses the 3: the professional text wins.
    const std::string steps =
        "Step 3 is to install the package. Then run the tests. Finally deploy it to staging.";
    EXPECT_EQ(localModeTransform(steps, DeliverMode::summarize), localProfessional(steps));
    for (DeliverMode plain : {DeliverMode::raw, DeliverMode::ask})
        EXPECT_EQ(localModeTransform(steps, plain), steps) << configValue(plain);
}

TEST(LocalModes, HugeRunsOfBlanksOrOneEndlessWordAreReadOnce) {
    // A rule that rescanned such a run from each of its positions would take minutes here.
    const std::string blanks = "alpha" + std::string(200000, ' ') + "beta gamma delta";
    EXPECT_EQ(localProfessional(blanks), "Alpha beta gamma delta.");
    const std::string word = "fix the " + std::string(200000, 'a') + " importer. It fails.";
    for (DeliverMode mode : {DeliverMode::summarize, DeliverMode::agent, DeliverMode::expand})
        EXPECT_NE(localModeTransform(word, mode).find("importer"), std::string::npos);
    std::string corrections = "go";
    for (int i = 0; i < 5000; ++i)
        corrections += " scratch that left right up down";
    EXPECT_EQ(localProfessional(corrections), "Left right up down.");
}

TEST(LocalCommandEdit, InstructionsPickTheFirstMatchingRowByWholeWords) {
    const std::string selection = "ok so we fix the login page, and we decided to ship friday.";
    const std::string upper = "OK SO WE FIX THE LOGIN PAGE, AND WE DECIDED TO SHIP FRIDAY.";
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"make it all caps", upper},
        {"summarize it in upper case", upper},
        {"put it in lower case", "ok so we fix the login page, and we decided to ship friday."},
        {"Summarise it", localSummarize(selection)},
        {"turn this into a brief", localAgentBrief(selection)},
        {"flesh it out", localExpand(selection)},
        {"remove the filler", localProfessional(selection)},
        {"translate to french", std::nullopt},
    };
    for (const auto& [instruction, expected] : cases)
        EXPECT_EQ(localCommandEdit(selection, instruction), expected) << instruction;
    // Full case mapping, not byte by byte.
    EXPECT_EQ(localCommandEdit("stra\xc3\x9f"
                               "e \xc3\xa9t\xc3\xa9",
                               "all caps"),
              "STRASSE \xc3\x89T\xc3\x89");
}

TEST(ModeProperties, EveryModeKeepsTheNumbersAndACleanLayout) {
    test::TempDir dir;
    SystemWords none;
    const TranscriptSources sources{
        {dir.file("learned-words.txt"), dir.file("candidates")}, dir.file("snippets"), &none};
    std::istringstream corpus(
        test::readFixture(std::string(VAK_SOURCE_DIR) + "/tests/text/corpus/transcripts.txt"));
    std::size_t texts = 0;
    for (std::string line; std::getline(corpus, line);) {
        if (line.empty() || line[0] == '#') continue;
        ++texts;
        const std::string text = formatTranscript(line, sources).text;
        const std::string professional = localProfessional(text);
        for (DeliverMode mode : {DeliverMode::professional, DeliverMode::summarize,
                                 DeliverMode::agent, DeliverMode::expand}) {
            const std::string out = localModeTransform(text, mode);
            SCOPED_TRACE(std::string(configValue(mode)) + " of: " + text + "\n→ " + out);
            ASSERT_FALSE(out.empty());
            EXPECT_NE(out.front(), '\n');
            EXPECT_NE(out.back(), '\n');
            for (const char* flaw : {"  ", "\n\n\n", " \n", "\n ", ",.", ".,"})
                EXPECT_EQ(out.find(flaw), std::string::npos) << flaw;
            EXPECT_TRUE(isValidUtf8(out));
            const auto numbers = numberTokens(out);
            for (const std::string& number : numberTokens(professional))
                EXPECT_NE(std::find(numbers.begin(), numbers.end(), number), numbers.end())
                    << "lost " << number;
        }
    }
    EXPECT_GE(texts, 36u);
}

} // namespace
} // namespace vak
