#pragma once

#include <vector>

#include <gtest/gtest.h>

namespace vak::test {

// One row of a text stage's table: what goes in and what must come out.
struct TextCase {
    const char* input;
    const char* expected;
};

template <typename Stage>
void expectAll(Stage stage, const std::vector<TextCase>& cases) {
    for (const TextCase& c : cases)
        EXPECT_EQ(stage(c.input), c.expected) << "input: '" << c.input << "'";
}

} // namespace vak::test
