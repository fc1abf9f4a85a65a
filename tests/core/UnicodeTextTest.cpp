#include "core/UnicodeText.h"

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
