#pragma once

#include <gtest/gtest.h>

// Checks that `part` occurs in `text`; a failure shows both.
#define EXPECT_CONTAINS(text, part) EXPECT_PRED_FORMAT2(::testing::IsSubstring, part, text)
