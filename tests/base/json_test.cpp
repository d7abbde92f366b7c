#include "base/json.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(Json, StringMemberOnlyFromATopLevelObject) {
    struct Case {
        std::string json;
        std::optional<std::string> text;
    };
    const std::vector<Case> cases = {
        {R"({"text":"Hello world."})", "Hello world."},
        {R"(  {"other":1,"text":"caf\u00e9 \ud83d\udc4d"}  )", "caf\xc3\xa9 \xf0\x9f\x91\x8d"},
        {R"({"text":42})", std::nullopt},
        {R"({"text":null})", std::nullopt},
        {R"([{"text":"in an array"}])", std::nullopt},
        {R"({"text":"a"} trailing)", std::nullopt},
        {"{\"text\":\"\xff\"}", std::nullopt}, // not UTF-8
    };
    for (const auto& c : cases)
        EXPECT_EQ(jsonStringMember(c.json, "text"), c.text) << c.json;
}

} // namespace
} // namespace vak
