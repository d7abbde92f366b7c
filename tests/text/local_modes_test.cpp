#include "text/local_modes.h"
#include "text_cases.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using List = std::vector<std::string>;

using test::expectAll;

TEST(LocalModeTransform, ThePlainAndAskModesLeaveTheTextAsItIs) {
    const std::string text = "Hi sarah. Can you send the report by friday. Thanks.";
    EXPECT_EQ(localModeTransform(text, DeliverMode::professional), localProfessional(text));
    for (DeliverMode other : {DeliverMode::raw, DeliverMode::ask})
        EXPECT_EQ(localModeTransform(text, other), text) << configValue(other);
    EXPECT_EQ(localModeTransform("", DeliverMode::professional), "");
    EXPECT_EQ(localModeTransform("", DeliverMode::summarize), "");
}

TEST(SplitRunOns, BothSidesNeedFourWords) {
    // A single split shows in the professional rendering further down.
    EXPECT_EQ(splitRunOns("it works, and fast"), List{"it works, and fast"});
    EXPECT_EQ(splitRunOns("we tried the first approach twice, but it failed on the server, so we "
                          "rolled back the change tonight"),
              (List{"we tried the first approach twice", "it failed on the server",
                    "we rolled back the change tonight"}));
    EXPECT_EQ(splitRunOns("I cleaned the whole kitchen, and I walked the dog, and then I finally "
                          "took a long nap"),
              (List{"I cleaned the whole kitchen", "I walked the dog",
                    "then I finally took a long nap"}));
    // The first occurrence decides: a short side stops the splitting for that conjunction.
    EXPECT_EQ(splitRunOns("yes, and we should also go there, and then come back home again"),
              List{"yes, and we should also go there, and then come back home again"});
    EXPECT_EQ(splitRunOns("we looked at all of it, And the rest was fine too"),
              List{"we looked at all of it, And the rest was fine too"});
}

TEST(InferQuestion, AuxiliaryAndQuestionWordOpenings) {
    expectAll(inferQuestion,
              {
                  {"Can you send the report by Friday.", "Can you send the report by Friday?"},
                  {"When will it ship.", "When will it ship?"},
                  {"How long does it take.", "How long does it take?"},
                  {"how are you.", "how are you?"},
                  {"Don't you think so.", "Don't you think so?"},
                  {"What about lunch.", "What about lunch?"},
                  {"Is the build green.", "Is the build green?"},
                  {"I can see you.", "I can see you."},
                  {"Candy is sweet.", "Candy is sweet."},
                  {"Howard is here.", "Howard is here."},
                  {"Can you send it?", "Can you send it?"},
                  {"Can you send it", "Can you send it"},
                  {"", ""},
              });
}

TEST(SplitGreeting, ShortSpokenGreetingsOnly) {
    auto split = splitGreeting({"Hi sarah.", "Rest of it."});
    EXPECT_EQ(split.greeting, "Hi Sarah,");
    EXPECT_EQ(split.rest, List{"Rest of it."});

    EXPECT_EQ(splitGreeting({"good morning team"}).greeting, "Good morning Team,");
    EXPECT_EQ(splitGreeting({"Good afternoon mr smith."}).greeting, "Good afternoon mr Smith,");
    EXPECT_EQ(splitGreeting({"dear jo"}).greeting, "Dear Jo,");
    for (const List& none : std::vector<List>{
             {},
             {"Hello there my friend."}, // three words after the greeting
             {"Hi, Sarah."},
             {"Hi sarah!"},
             {"Hey 2 people."},
             {"Hi."},
             {"Say hi sarah."},
         }) {
        const auto result = splitGreeting(none);
        EXPECT_FALSE(result.greeting) << (none.empty() ? "" : none[0]);
        EXPECT_EQ(result.rest, none);
    }
}

TEST(SplitSignoff, ShortClosingSentenceOnly) {
    auto split = splitSignoff({"Body here.", "thanks."});
    EXPECT_EQ(split.signoff, "Thanks.");
    EXPECT_EQ(split.rest, List{"Body here."});
    for (const char* signoff : {"Talk soon!", "See you tomorrow.", "Appreciate it", "Cheers,"}) {
        EXPECT_TRUE(splitSignoff({signoff}).signoff) << signoff;
        EXPECT_TRUE(splitSignoff({signoff}).rest.empty());
    }
    EXPECT_EQ(splitSignoff({"Cheers,"}).signoff, "Cheers.");
    for (const List& none : std::vector<List>{
             {}, {"Thanks for all the help."}, {"Thanks.", "Body."}, {"See you later."}}) {
        const auto result = splitSignoff(none);
        EXPECT_FALSE(result.signoff);
        EXPECT_EQ(result.rest, none);
    }
}

TEST(LocalProfessional, CleanSentencesInParagraphsOfThree) {
    expectAll(localProfessional,
              {
                  {"", ""},
                  {"Hi sarah. Can you send the report by friday. Thanks.",
                   "Hi Sarah,\n\nCan you send the report by Friday?\n\nThanks."},
                  {"Alpha went home. Bravo went home. Charlie went home. Delta went home. Echo "
                   "went home. Foxtrot went home. Golf went home.",
                   "Alpha went home. Bravo went home. Charlie went home.\n\nDelta went home. "
                   "Echo went home. Foxtrot went home.\n\nGolf went home."},
                  {"Alpha went home. Bravo went home. Charlie went home.",
                   "Alpha went home. Bravo went home. Charlie went home."},
                  {"Hi team. Alpha went. Bravo went. Charlie went. Delta went. Cheers.",
                   "Hi Team,\n\nAlpha went. Bravo went. Charlie went.\n\nDelta went.\n\nCheers."},
                  {"Okay so um we should meet on tuesday no wait wednesday. Thats fine.",
                   "We should meet on Wednesday. That's fine."},
                  {"we shipped the new build this morning, and the crash reports dropped to zero "
                   "overnight",
                   "We shipped the new build this morning. The crash reports dropped to zero "
                   "overnight."},
                  {"Thanks,", "Thanks."},
                  {"Scratch that.", ""},
              });
}

TEST(LocalSummarize, ListsParagraphsDecisionsAndActions) {
    expectAll(localSummarize,
              {
                  {"First we fix the login. Second we update the docs. We decided to ship "
                   "friday. Remember to email legal.",
                   "- We fix the login.\n- We update the docs.\n\nDecisions\n- We decided to ship "
                   "Friday.\n\nAction items\n- Remember to email legal."},
                  // Two sentences never collect decisions or actions.
                  {"We decided to ship friday. Remember to email legal.",
                   "We decided to ship Friday. Remember to email legal."},
                  // ("Anyway" would open a topic too, but the clean-up drops it as an opener.)
                  {"The release is on track. The docs are done. By the way, the office move is "
                   "next week. The boxes arrive monday.",
                   "The release is on track. The docs are done.\n\nThe office move is next week. "
                   "The boxes arrive Monday."},
                  {"Alpha is fine. Bravo is fine. Charlie is fine. Delta is fine. Then we test "
                   "it. Next we ship it. Echo is fine.",
                   "Alpha is fine. Bravo is fine. Charlie is fine.\n\nDelta is fine.\n\n- We test "
                   "it.\n- We ship it.\n\nEcho is fine."},
                  // Over twenty words: a decision cue does not pull the sentence out.
                  {"Alpha is fine. Bravo is fine. We decided after a very long and winding "
                   "discussion with everyone on the team that the launch moves to the week after "
                   "next.",
                   "Alpha is fine. Bravo is fine. We decided after a very long and winding "
                   "discussion with everyone on the team that the launch moves to the week after "
                   "next."},
                  {"", ""},
              });
}

TEST(LocalExpand, OpenQuestionsTheRequestLeaves) {
    const std::string row1 = "- What should the loading, empty, and error states look like?";
    const std::string row2 = "- What are the auth, rate limit, and error response expectations?";
    const std::string done = "- What does done look like, concretely?";
    const std::string edge = "- What should happen when the input is empty, missing, or malformed?";
    const std::string keep = "- Is there anything that must not change?";
    EXPECT_EQ(localExpand("add a settings page"),
              "Add a settings page.\n\nOpen questions:\n" + row1 + "\n" + done + "\n" + keep);
    EXPECT_EQ(localExpand("fix the crash so that the page does not break; do not touch the api"),
              "Fix the crash so that the page does not break; do not touch the api.\n\nOpen "
              "questions:\n" +
                  row1 + "\n" + row2);
    EXPECT_EQ(localExpand("make the logo bigger"),
              "Make the logo bigger.\n\nOpen questions:\n" + done + "\n" + edge + "\n" + keep);
    // Everything answered: the professional text alone.
    EXPECT_EQ(localExpand("rename the helper so that it handles empty input, and do not change "
                          "anything else"),
              "Rename the helper so that it handles empty input. Do not change anything else.");
    // Nothing said: the questions without blank lines above them.
    EXPECT_EQ(localExpand(""), "Open questions:\n" + done + "\n" + edge + "\n" + keep);
}

TEST(NumberGuard, TokensAndBothDirections) {
    EXPECT_EQ(numberTokens("Pay $1,500 by May 3, version 2.0.1 and 7. Or 1,2,3."),
              (List{"1,500", "3", "2.0.1", "7", "1,2,3"}));
    EXPECT_EQ(numberTokens("no digits"), List{});

    EXPECT_EQ(factGuardrail("Pay $1,500 by May 3.", "Pay by May."), "Pay $1,500 by May 3.");
    EXPECT_EQ(factGuardrail("Pay $1,500 by May 3.", "$1,500 due May 3"), "$1,500 due May 3");
    EXPECT_EQ(factGuardrail("Pay $1,500 by May 3.", "Pay $1500 by May 3."),
              "Pay $1,500 by May 3."); // compared as written
    EXPECT_EQ(factGuardrail("No digits here.", "whatever 5"), "whatever 5");

    // A summary that turns "step 3" into a list item loses the 3: the professional text wins.
    const std::string steps =
        "Step 3 is to install the package. Then run the tests. Finally deploy it to staging.";
    EXPECT_EQ(localSummarize(steps),
              "- Is to install the package.\n- Run the tests.\n- Deploy it to staging.");
    EXPECT_EQ(localModeTransform(steps, DeliverMode::summarize), localProfessional(steps));
    // One that keeps every number is used.
    const std::string order = "First we order 12 chairs. Second we book the room for 40 people. "
                              "Finally we send invites.";
    EXPECT_EQ(localModeTransform(order, DeliverMode::summarize),
              "- We order 12 chairs.\n- We book the room for 40 people.\n- We send invites.");
}

TEST(LocalModes, HugeRunsOfBlanksOrOneEndlessWordAreReadOnce) {
    // A rule that rescanned such a run from each of its positions would take minutes here.
    const std::string blanks = "alpha" + std::string(200000, ' ') + "beta gamma delta";
    EXPECT_EQ(localProfessional(blanks), "Alpha beta gamma delta.");
    const std::string word = "fix the " + std::string(200000, 'a') + " importer. It fails.";
    for (DeliverMode mode : {DeliverMode::professional, DeliverMode::summarize, DeliverMode::agent,
                             DeliverMode::expand}) {
        EXPECT_NE(localModeTransform(word, mode).find("importer"), std::string::npos)
            << configValue(mode);
    }
    std::string corrections = "go";
    for (int i = 0; i < 5000; ++i)
        corrections += " scratch that left right up down";
    EXPECT_EQ(localProfessional(corrections), "Left right up down.");
}

} // namespace
} // namespace vak
