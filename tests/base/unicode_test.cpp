#include "base/unicode.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(Unicode, CountsUserPerceivedCharacters) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("hello"), 5u);
    EXPECT_EQ(graphemeCount("e\xcc\x81"), 1u);                        // e + combining acute
    EXPECT_EQ(graphemeCount("\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd"), 1u); // thumbs up + skin tone
    EXPECT_EQ(graphemeCount("\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa"), 1u); // flag DE
    // family: man ZWJ woman ZWJ girl
    EXPECT_EQ(
        graphemeCount("\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7"),
        1u);
    EXPECT_EQ(graphemeCount("a\r\nb"), 3u); // CR LF is one character
    EXPECT_EQ(graphemeCount("na\xc3\xafve \xe2\x9c\x93"), 7u);

    const auto pieces = graphemes("ae\xcc\x81\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd!");
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[1], "e\xcc\x81");
    EXPECT_EQ(pieces[2], "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd");
}

TEST(Unicode, GraphemeBoundariesAreByteOffsetsEndingAtTheSize) {
    std::vector<std::size_t> bounds{99, 98};
    graphemeBoundaries("", bounds);
    EXPECT_EQ(bounds, (std::vector<std::size_t>{0}));
    graphemeBoundaries("ab", bounds);
    EXPECT_EQ(bounds, (std::vector<std::size_t>{0, 1, 2}));
    graphemeBoundaries("a\r\nb", bounds);
    EXPECT_EQ(bounds, (std::vector<std::size_t>{0, 1, 3, 4}));
    graphemeBoundaries("e\xcc\x81\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbdz", bounds);
    EXPECT_EQ(bounds, (std::vector<std::size_t>{0, 3, 11, 12}));
    EXPECT_EQ(graphemes("a\r\n"), (std::vector<std::string>{"a", "\r\n"}));
}

TEST(Unicode, PunctuationTrimsFromBothEndsOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"hello,", "hello"},
        {"(\"quoted\")", "quoted"},
        {"\xe2\x80\x9cit's\xe2\x80\x9d!", "it's"},
        {"...", ""},
        {"c++", "c++"}, // symbols are not punctuation
        {"$5.", "$5"},
        {"\xc2\xbfqu\xc3\xa9?", "qu\xc3\xa9"},
        {"", ""},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(trimPunctuation(input), expected) << input;

    std::size_t start = 0;
    EXPECT_EQ(codePointBefore("a\xc3\xa9", 3, start), U'\u00e9');
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(codePointBefore("a\xa9", 2, start), U'\uFFFD'); // a lone continuation byte
    EXPECT_EQ(start, 1u);
}

TEST(Unicode, CaseMappingIsFullAndLocaleIndependent) {
    EXPECT_EQ(toUpper("stra\xc3\x9f"
                      "e"),
              "STRASSE");
    EXPECT_EQ(toLower("\xc3\x89T\xc3\x89"), "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(toLower("I"), "i"); // not the Turkish dotless i
}

TEST(Unicode, UpperFirstChangesOnlyTheFirstCharacter) {
    EXPECT_EQ(upperFirst("hello World"), "Hello World");
    EXPECT_EQ(upperFirst("\xc3\xa9t\xc3\xa9"), "\xc3\x89t\xc3\xa9"); // été
    EXPECT_EQ(upperFirst("\xc3\x9f x"), "SS x");                     // ß
    EXPECT_EQ(upperFirst("e\xcc\x81"
                         "cole"),
              "E\xcc\x81"
              "cole"); // e + combining acute
    EXPECT_EQ(upperFirst("3 apples"), "3 apples");
    EXPECT_EQ(upperFirst(""), "");
    EXPECT_EQ(upperFirst("\xff abc"), "\xff abc"); // an ill-formed byte stays
}

TEST(Unicode, TrimsOnlyTheRequestedClass) {
    const std::string nbsp = "\xc2\xa0";
    const std::string lineSep = "\xe2\x80\xa8";
    EXPECT_EQ(trim(" \t hi \n", CharClass::Blanks), "hi \n");
    EXPECT_EQ(trim(nbsp + "hi" + nbsp + "\n", CharClass::Whitespace), "hi" + nbsp + "\n");
    EXPECT_EQ(trim(lineSep + " \r\nhi there\t\n" + nbsp), "hi there");
    EXPECT_EQ(trim("   "), "");
    EXPECT_EQ(trimChars("...,hi!,", U".,!"), "hi");
    EXPECT_EQ(trimChars("\xe2\x80\x9cquoted\xe2\x80\x9d", U"\u201C\u201D"), "quoted");
}

TEST(Unicode, Utf8ValidationAndRepair) {
    EXPECT_TRUE(isValidUtf8("plain \xe2\x82\xac"));
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));     // overlong slash
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80")); // a surrogate
    EXPECT_FALSE(isValidUtf8(std::string("a\xff", 2)));
    EXPECT_EQ(sanitizeUtf8("a\xff"
                           "b"),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(fromUtf32(toUtf32("\xf0\x9f\x8e\x99 mic")), "\xf0\x9f\x8e\x99 mic");
}

} // namespace
} // namespace vak
