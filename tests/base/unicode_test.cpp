#include "base/unicode.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

// An accent, a skin tone, a flag, a family joined by ZWJs and CR LF are one character each.
TEST(Unicode, GraphemesAreUserPerceivedCharactersAtByteOffsets) {
    EXPECT_EQ(graphemeCount("hi \xf0\x9f\x87\xa9\xf0\x9f\x87\xaa"), 4u);
    EXPECT_EQ(
        graphemeCount("\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7"),
        1u);
    std::vector<std::size_t> bounds{99, 98};
    graphemeBoundaries("", bounds);
    EXPECT_EQ(bounds, (std::vector<std::size_t>{0}));
    graphemeBoundaries("e\xcc\x81\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd\r\nz", bounds);
    EXPECT_EQ(bounds, (std::vector<std::size_t>{0, 3, 11, 13, 14}));
    EXPECT_EQ(graphemes("ae\xcc\x81\r\n"), (std::vector<std::string>{"a", "e\xcc\x81", "\r\n"}));
}

// Symbols are not punctuation.
TEST(Unicode, TrimmingTakesOnlyTheClassAskedFor) {
    EXPECT_EQ(trimPunctuation("\xe2\x80\x9cit's\xe2\x80\x9d!"), "it's");
    EXPECT_EQ(trimPunctuation("\xc2\xbf"
                              "c++?"),
              "c++");
    const std::string nbsp = "\xc2\xa0";
    EXPECT_EQ(trim(" \t hi \n", CharClass::Blanks), "hi \n");
    EXPECT_EQ(trim(nbsp + "hi" + nbsp + "\n", CharClass::Whitespace), "hi" + nbsp + "\n");
    EXPECT_EQ(trim("\xe2\x80\xa8 \r\nhi there\t\n" + nbsp), "hi there");
    EXPECT_EQ(trimChars("\xe2\x80\x9c...,hi!,\xe2\x80\x9d", U".,!\u201C\u201D"), "hi");
    std::size_t start = 0;
    EXPECT_EQ(codePointBefore("a\xc3\xa9", 3, start), U'\u00e9');
    EXPECT_EQ(start, 1u);
}

// Full and locale-independent (no Turkish dotless i); upperFirst changes the first character
// only, and leaves an ill-formed byte as it is.
TEST(Unicode, CaseMappingAndUtf8Repair) {
    EXPECT_EQ(upperFirst("\xc3\x9f x"), "SS x");
    EXPECT_EQ(upperFirst("e\xcc\x81"
                         "cole"),
              "E\xcc\x81"
              "cole");
    EXPECT_EQ(upperFirst("\xff abc"), "\xff abc");
    EXPECT_EQ(toLower("\xc3\x89TI"), "\xc3\xa9ti");
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80")); // a surrogate
    EXPECT_EQ(sanitizeUtf8("a\xff"
                           "b"),
              "a\xef\xbf\xbd"
              "b");
}

} // namespace
} // namespace vak
