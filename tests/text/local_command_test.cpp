#include "text/agent_brief.h"
#include "text/local_command.h"
#include "text/local_modes.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(LocalCommandEdit, EachRowOfTheInstructionTable) {
    const std::string selection = "ok so we need to fix the login page, and we decided to ship "
                                  "friday. remember to email legal. Also update the 3 docs.";
    struct Row {
        std::vector<const char*> instructions;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {{"make it all caps", "UPPERCASE this", "upper case please"},
         "OK SO WE NEED TO FIX THE LOGIN PAGE, AND WE DECIDED TO SHIP FRIDAY. REMEMBER TO EMAIL "
         "LEGAL. ALSO UPDATE THE 3 DOCS."},
        {{"lowercase", "put it in lower case"},
         "ok so we need to fix the login page, and we decided to ship friday. remember to email "
         "legal. also update the 3 docs."},
        {{"summarize this", "Summarise it", "give me a summary"}, localSummarize(selection)},
        {{"agent brief", "write a coding brief", "turn this into a brief", "turn it into a brief"},
         localAgentBrief(selection)},
        {{"expand", "add more detail", "flesh this out", "flesh it out", "flesh out"},
         localExpand(selection)},
        {{"clean this up", "clean up", "clean it up", "fix the grammar", "fix grammar",
          "fix the punctuation", "fix spelling", "make it professional", "polish it", "tidy",
          "proofread", "remove filler", "remove the filler"},
         localProfessional(selection)},
    };
    for (const Row& row : rows) {
        for (const char* instruction : row.instructions)
            EXPECT_EQ(localCommandEdit(selection, instruction), row.expected) << instruction;
    }
    // Full case mapping, not byte by byte.
    EXPECT_EQ(localCommandEdit("stra\xc3\x9f"
                               "e \xc3\xa9t\xc3\xa9",
                               "all caps"),
              "STRASSE \xc3\x89T\xc3\x89");
}

TEST(LocalCommandEdit, RowsAreTriedInOrder) {
    EXPECT_EQ(localCommandEdit("Hello there", "summarize it in upper case"), "HELLO THERE");
    EXPECT_EQ(localCommandEdit("Hello There", "polish it, then lower case"), "hello there");
}

TEST(LocalCommandEdit, WholeWordsOnlyAndNothingWhenNoRowApplies) {
    for (const char* instruction :
         {"uppercased", "make it lowercased", "summarized", "expanded", "tidying", "polished",
          "translate to french", "", "capslock on", "all capsules", "professionally"}) {
        EXPECT_EQ(localCommandEdit("hello world", instruction), std::nullopt) << instruction;
    }
    EXPECT_EQ(localCommandEdit("", "all caps"), "");
}

} // namespace
} // namespace vak
