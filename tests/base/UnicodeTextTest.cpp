#include "base/UnicodeText.h"

#include <gtest/gtest.h>

namespace meridane::text {
namespace {

TEST(UnicodeText, TrimRemovesUnicodeSpacesAndLineBreaks) {
    EXPECT_EQ(trimmed(" \t\n37.5\r\n"), "37.5");
    EXPECT_EQ(trimmed("\u00a0\u2003north\u2029\u0085"), "north");  // no-break, em space, para sep, NEL
    EXPECT_EQ(trimmed("\u200b37\u200b"), "\u200b37\u200b");       // zero-width space is not white space
    EXPECT_EQ(trimmed("   "), "");
}

TEST(UnicodeText, UpperCaseIsTheFullMapping) {
    EXPECT_EQ(upperCased("stra\u00dfe"), "STRASSE");
    EXPECT_EQ(upperCased("37.5 n"), "37.5 N");
    EXPECT_EQ(upperCased("i"), "I");  // never the Turkish dotted capital
}

// ASCII texts take a shortcut; it must agree with the Unicode path.
TEST(UnicodeText, AsciiShortcutAgreesWithTheUnicodeRules) {
    EXPECT_EQ(trimmed("\v\f 37.7749N \r\n"), "37.7749N");
    EXPECT_EQ(trimmed("\x1c" "37" "\x1f"), "\x1c" "37" "\x1f");  // information separators are not white space
    EXPECT_EQ(trimmed(""), "");
    EXPECT_EQ(upperCased("north 37.5w {x}"), "NORTH 37.5W {X}");
}

TEST(UnicodeText, LowerCase) {
    EXPECT_EQ(lowerCased("APPLE"), "apple");
    EXPECT_EQ(lowerCased("\u0130"), "i\u0307");
}

TEST(UnicodeText, LastCharacterKeepsCombiningMarks) {
    EXPECT_EQ(lastCharacter("37.5N"), "N");
    EXPECT_EQ(lastCharacter("37.5N\u0301"), "N\u0301");
    EXPECT_EQ(withoutLastCharacter("37.5N\u0301"), "37.5");
    EXPECT_EQ(lastCharacter(""), "");
    EXPECT_EQ(withoutLastCharacter("N"), "");
}

}  // namespace
}  // namespace meridane::text
