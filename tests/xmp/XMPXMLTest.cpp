// XMPXML: which element holds the GPS properties, how properties are read
// and written, and the exact trace each step leaves.
#include "xmp/XMPXML.h"

#include "base/Diagnostics.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace meridane::xmp {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kOpen =
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'"
    " xmlns:exif='http://ns.adobe.com/exif/1.0/' xmlns:xmp='http://ns.adobe.com/xap/1.0/'"
    " xmlns:dc='http://purl.org/dc/elements/1.1/'>";
constexpr const char* kClose = "</rdf:RDF></x:xmpmeta>";

std::string packet(const std::string& body) { return kOpen + body + kClose; }

std::string description(const std::string& children) {
    return packet("<rdf:Description rdf:about=''>" + children + "</rdf:Description>");
}

XmlDocument parse(const std::string& xml) {
    auto result = XmlDocument::parse(xml);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().message);
    return std::move(result).value();
}

// The first element with this name, in document order.
std::optional<XmlElement> findNamed(const XmlElement& from, const std::string& name) {
    if (from.name() == name)
        return from;
    for (const XmlNode& child : from.children())
        if (auto element = child.asElement())
            if (auto found = findNamed(*element, name))
                return found;
    return std::nullopt;
}

XmlElement theDescription(const XmlDocument& document) {
    auto found = findNamed(*document.rootElement(), "rdf:Description");
    EXPECT_TRUE(found.has_value());
    return *found;
}

// ---- findDescriptionElement --------------------------------------------------

struct FindCase {
    const char* name;
    std::string xml;
    int expectedIndex;  ///< which element with the expected name (0-based), -1 for none
    const char* expectedName;
    Lines lines;
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.name; }

// The n-th element named `name` in document order.
std::optional<XmlElement> nthNamed(const XmlElement& from, const std::string& name, int& n) {
    if (from.name() == name && n-- == 0)
        return from;
    for (const XmlNode& child : from.children())
        if (auto element = child.asElement())
            if (auto found = nthNamed(*element, name, n))
                return found;
    return std::nullopt;
}

class FindDescription : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindDescription, ChoosesAndTraces) {
    const auto& c = GetParam();
    const auto document = parse(c.xml);
    diag::LineCapture capture;
    const auto found = xmp::findDescriptionElement(document);
    EXPECT_EQ(capture.lines(), c.lines);
    if (c.expectedIndex < 0) {
        EXPECT_FALSE(found.has_value());
        return;
    }
    int n = c.expectedIndex;
    const auto expected = nthNamed(*document.rootElement(), c.expectedName, n);
    ASSERT_TRUE(expected.has_value());
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, *expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindDescription,
    ::testing::Values(
        FindCase{"NoSuitableElement",
                 "<x:xmpmeta xmlns:x='adobe:ns:meta/'><other><thing>1</thing></other></x:xmpmeta>",
                 -1,
                 "",
                 {"[DEBUG] XMPXML: No suitable element found"}},
        FindCase{"LowerCaseDescriptionDoesNotQualify",
                 "<root><description><GPSAltitude>1</GPSAltitude></description></root>",
                 -1,
                 "",
                 {"[DEBUG] XMPXML: No suitable element found"}},
        FindCase{"GPSContainerWinsOverFirstDescription",
                 packet("<rdf:Description rdf:about=''><dc:format>image/heic</dc:format></rdf:Description>"
                        "<rdf:Description rdf:about=''><exif:GPSLongitude>122,25.164W</exif:GPSLongitude>"
                        "</rdf:Description>"),
                 1,
                 "rdf:Description",
                 {"[DEBUG] XMPXML: Found element containing GPS data",
                  "[DEBUG] XMPXML: GPS Container contents:",
                  "[DEBUG]   Element name: rdf:Description",
                  "[DEBUG]   Children count: 1",
                  "[DEBUG]     [0] exif:GPSLongitude = '122,25.164W'"}},
        FindCase{"AttributesOnlyFallBackToFirstDescription",
                 packet("<rdf:Description rdf:about='' exif:GPSLatitude='37,46.494N' exif:GPSLongitude='122,25.164W'>"
                        "<dc:format>image/heic</dc:format></rdf:Description>"
                        "<rdf:Description rdf:about=''/>"),
                 0,
                 "rdf:Description",
                 {"[DEBUG] XMPXML: Using first Description-like element as fallback",
                  "[DEBUG] XMPXML: Fallback Description contents:",
                  "[DEBUG]   Element name: rdf:Description",
                  "[DEBUG]   Children count: 1",
                  "[DEBUG]     [0] dc:format = 'image/heic'"}},
        FindCase{"RootNamedDescription",
                 "<rdf:Description xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'/>",
                 0,
                 "rdf:Description",
                 {"[DEBUG] XMPXML: Using first Description-like element as fallback",
                  "[DEBUG] XMPXML: Fallback Description contents:",
                  "[DEBUG]   Element name: rdf:Description",
                  "[DEBUG]   Children count: 0"}},
        FindCase{"PositionsCountEveryChildNode",
                 description("<!-- position 0 -->\n  <exif:GPSLatitude>\n  37.5N \n</exif:GPSLatitude>"
                             "mixed text<?pi x?><exif:GPSLatitudeRef>N</exif:GPSLatitudeRef>"),
                 0,
                 "rdf:Description",
                 {"[DEBUG] XMPXML: Found element containing GPS data",
                  "[DEBUG] XMPXML: GPS Container contents:",
                  "[DEBUG]   Element name: rdf:Description",
                  "[DEBUG]   Children count: 5",
                  "[DEBUG]     [1] exif:GPSLatitude = '37.5N'",
                  "[DEBUG]     [4] exif:GPSLatitudeRef = 'N'"}},
        FindCase{"OwnChildrenTestedBeforeDescending",
                 description("<xmp:Inner><exif:GPSLatitude>1</exif:GPSLatitude></xmp:Inner>"
                             "<exif:GPSLongitude>2</exif:GPSLongitude>"),
                 0,
                 "rdf:Description",
                 {"[DEBUG] XMPXML: Found element containing GPS data",
                  "[DEBUG] XMPXML: GPS Container contents:",
                  "[DEBUG]   Element name: rdf:Description",
                  "[DEBUG]   Children count: 2",
                  "[DEBUG]     [0] xmp:Inner = '1'",
                  "[DEBUG]     [1] exif:GPSLongitude = '2'"}},
        FindCase{"FirstContainerInDocumentOrder",
                 packet("<rdf:Description><xmp:A><xmp:B><exif:GPSLatitude>1</exif:GPSLatitude></xmp:B></xmp:A>"
                        "<xmp:C><exif:GPSLatitude>2</exif:GPSLatitude></xmp:C></rdf:Description>"),
                 0,
                 "xmp:B",
                 {"[DEBUG] XMPXML: Found element containing GPS data",
                  "[DEBUG] XMPXML: GPS Container contents:",
                  "[DEBUG]   Element name: xmp:B",
                  "[DEBUG]   Children count: 1",
                  "[DEBUG]     [0] exif:GPSLatitude = '1'"}},
        FindCase{"ForeignGPSLookAlikeElementCounts",
                 packet("<rdf:Description><bopt:GPSLatitude xmlns:bopt='urn:bibble'/></rdf:Description>"),
                 0,
                 "rdf:Description",
                 {"[DEBUG] XMPXML: Found element containing GPS data",
                  "[DEBUG] XMPXML: GPS Container contents:",
                  "[DEBUG]   Element name: rdf:Description",
                  "[DEBUG]   Children count: 1",
                  "[DEBUG]     [0] bopt:GPSLatitude = ''"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FindDescription, DeepDocumentIsSearchedWithoutRecursionTrouble) {
    std::string xml;
    for (int i = 0; i < 250; ++i)
        xml += "<e" + std::to_string(i) + ">";
    xml += "<GPSLatitude>1</GPSLatitude>";
    for (int i = 249; i >= 0; --i)
        xml += "</e" + std::to_string(i) + ">";
    const auto document = parse(xml);
    diag::LineCapture capture;
    const auto found = xmp::findDescriptionElement(document);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->name(), "e249");
}

// ---- getElementValue ---------------------------------------------------------

struct GetCase {
    const char* name;
    std::string children;
    const char* property;
    std::optional<std::string> expected;
    Lines lines;
};

void PrintTo(const GetCase& c, std::ostream* os) { *os << c.name; }

class GetElementValue : public ::testing::TestWithParam<GetCase> {};

TEST_P(GetElementValue, ReadsAndTraces) {
    const auto& c = GetParam();
    const auto document = parse(description(c.children));
    const auto element = theDescription(document);
    diag::LineCapture capture;
    EXPECT_EQ(xmp::getElementValue(c.property, element), c.expected);
    EXPECT_EQ(capture.lines(), c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetElementValue,
    ::testing::Values(
        GetCase{"ExactQualifiedName",
                "<exif:GPSLatitude>37.77490000N</exif:GPSLatitude>",
                "exif:GPSLatitude",
                "37.77490000N",
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: Found 'exif:GPSLatitude' = '37.77490000N' via exact match 'exif:GPSLatitude'"}},
        GetCase{"UnprefixedChildMatches",
                "<GPSLatitude>37.5</GPSLatitude>",
                "exif:GPSLatitude",
                "37.5",
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: Found 'exif:GPSLatitude' = '37.5' via exact match 'GPSLatitude'"}},
        GetCase{"OtherPrefixDoesNotMatch",
                "<dc:format>x</dc:format><xmp:GPSLatitude>37.5</xmp:GPSLatitude>",
                "exif:GPSLatitude",
                std::nullopt,
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: Could not find 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: All child elements:",
                 "[DEBUG]   [0] 'dc:format' = 'x'",
                 "[DEBUG]   [1] 'xmp:GPSLatitude' = '37.5'"}},
        GetCase{"RefIsNotTheLatitude",
                "<exif:GPSLatitude>37.5</exif:GPSLatitude><exif:GPSLatitudeRef>S</exif:GPSLatitudeRef>",
                "exif:GPSLatitudeRef",
                "S",
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLatitudeRef' in element",
                 "[DEBUG] XMPXML: Found 'exif:GPSLatitudeRef' = 'S' via exact match 'exif:GPSLatitudeRef'"}},
        GetCase{"TextIsTrimmed",
                "<exif:GPSLongitude>   122.4194W \n</exif:GPSLongitude>",
                "exif:GPSLongitude",
                "122.4194W",
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLongitude' in element",
                 "[DEBUG] XMPXML: Found 'exif:GPSLongitude' = '122.4194W' via exact match 'exif:GPSLongitude'"}},
        GetCase{"UnicodeSpacesAreTrimmed",
                "<exif:GPSLongitude>\xC2\xA0\xE2\x80\x83" "122.4194W\xE2\x80\xA8</exif:GPSLongitude>",
                "exif:GPSLongitude",
                "122.4194W",
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLongitude' in element",
                 "[DEBUG] XMPXML: Found 'exif:GPSLongitude' = '122.4194W' via exact match 'exif:GPSLongitude'"}},
        GetCase{"EmptyElementIsEmptyText",
                "<exif:GPSLatitude></exif:GPSLatitude>",
                "exif:GPSLatitude",
                "",
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: Found 'exif:GPSLatitude' = '' via exact match 'exif:GPSLatitude'"}},
        GetCase{"FirstOfTwoDuplicates",
                "<exif:GPSLatitude>1N</exif:GPSLatitude><exif:GPSLatitude>2N</exif:GPSLatitude>",
                "exif:GPSLatitude",
                "1N",
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: Found 'exif:GPSLatitude' = '1N' via exact match 'exif:GPSLatitude'"}},
        GetCase{"NestedTextIsConcatenated",
                "<exif:GPSLatitude><rdf:Alt><rdf:li>37</rdf:li><rdf:li>.5</rdf:li></rdf:Alt></exif:GPSLatitude>",
                "exif:GPSLatitude",
                "37.5",
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: Found 'exif:GPSLatitude' = '37.5' via exact match 'exif:GPSLatitude'"}},
        GetCase{"NoChildrenAtAll",
                "",
                "exif:GPSLatitude",
                std::nullopt,
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: Could not find 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: All child elements:"}},
        GetCase{"ChildPositionsCountComments",
                "<!-- c --><dc:format>x</dc:format>",
                "exif:GPSLatitude",
                std::nullopt,
                {"[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: Could not find 'exif:GPSLatitude' in element",
                 "[DEBUG] XMPXML: All child elements:",
                 "[DEBUG]   [1] 'dc:format' = 'x'"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GetElementValue, AttributesAreInvisible) {
    const auto document = parse(packet(
        "<rdf:Description rdf:about='' exif:GPSLatitude='37,46.494N' exif:GPSLongitude='122,25.164W'"
        " exif:GPSLatitudeRef='N' exif:GPSLongitudeRef='W'/>"));
    const auto element = theDescription(document);
    diag::LineCapture capture;
    for (const char* name : {"exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef", "exif:GPSLongitudeRef"})
        EXPECT_EQ(xmp::getElementValue(name, element), std::nullopt) << name;
}

// ---- setElementValue ---------------------------------------------------------

struct SetCase {
    const char* name;
    std::string children;
    const char* property;
    const char* value;
    Lines lines;
    std::string expectedChildren;  ///< the description's content afterwards, serialised
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.name; }

// The serialised lines between the description's start and end tags.
std::string childrenText(const XmlDocument& document) {
    const std::string text = document.serializePretty();
    const auto open = text.find("<rdf:Description");
    const auto start = text.find(">\n", open) + 2;
    const auto end = text.find("    </rdf:Description>");
    return text.substr(start, end - start);
}

class SetElementValue : public ::testing::TestWithParam<SetCase> {};

TEST_P(SetElementValue, WritesAndTraces) {
    const auto& c = GetParam();
    auto document = parse(description(c.children));
    auto element = theDescription(document);
    diag::LineCapture capture;
    xmp::setElementValue(c.value, c.property, element);
    EXPECT_EQ(capture.lines(), c.lines);
    EXPECT_EQ(childrenText(document), c.expectedChildren);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetElementValue,
    ::testing::Values(
        SetCase{"UpdatesExisting",
                "<exif:GPSLatitude>37,46.494</exif:GPSLatitude><exif:GPSLongitude>1</exif:GPSLongitude>",
                "exif:GPSLatitude",
                "37.77490000N",
                {"[DEBUG] XMPXML: Setting 'exif:GPSLatitude' = '37.77490000N'",
                 "[DEBUG] XMPXML: Updated existing element 'exif:GPSLatitude'"},
                "      <exif:GPSLatitude>37.77490000N</exif:GPSLatitude>\n"
                "      <exif:GPSLongitude>1</exif:GPSLongitude>\n"},
        SetCase{"UnprefixedStaysUnprefixed",
                "<GPSLatitude>1</GPSLatitude>",
                "exif:GPSLatitude",
                "37.77490000N",
                {"[DEBUG] XMPXML: Setting 'exif:GPSLatitude' = '37.77490000N'",
                 "[DEBUG] XMPXML: Updated existing element 'GPSLatitude'"},
                "      <GPSLatitude>37.77490000N</GPSLatitude>\n"},
        SetCase{"OnlyTheFirstDuplicateChanges",
                "<exif:GPSLatitude>1N</exif:GPSLatitude><exif:GPSLatitude>2N</exif:GPSLatitude>",
                "exif:GPSLatitude",
                "3.00000000N",
                {"[DEBUG] XMPXML: Setting 'exif:GPSLatitude' = '3.00000000N'",
                 "[DEBUG] XMPXML: Updated existing element 'exif:GPSLatitude'"},
                "      <exif:GPSLatitude>3.00000000N</exif:GPSLatitude>\n"
                "      <exif:GPSLatitude>2N</exif:GPSLatitude>\n"},
        SetCase{"MissingIsAppendedLast",
                "<exif:GPSLongitude>1</exif:GPSLongitude><!-- c --><dc:format>x</dc:format>",
                "exif:GPSLatitude",
                "37.77490000N",
                {"[DEBUG] XMPXML: Setting 'exif:GPSLatitude' = '37.77490000N'",
                 "[DEBUG] XMPXML: Created new element 'exif:GPSLatitude'"},
                "      <exif:GPSLongitude>1</exif:GPSLongitude>\n"
                "      <!-- c -->\n"
                "      <dc:format>x</dc:format>\n"
                "      <exif:GPSLatitude>37.77490000N</exif:GPSLatitude>\n"},
        SetCase{"OtherPrefixIsNotReused",
                "<xmp:GPSLatitude>1</xmp:GPSLatitude>",
                "exif:GPSLatitude",
                "2.00000000N",
                {"[DEBUG] XMPXML: Setting 'exif:GPSLatitude' = '2.00000000N'",
                 "[DEBUG] XMPXML: Created new element 'exif:GPSLatitude'"},
                "      <xmp:GPSLatitude>1</xmp:GPSLatitude>\n"
                "      <exif:GPSLatitude>2.00000000N</exif:GPSLatitude>\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SetElementValue, AttributesAreLeftAsTheyWere) {
    auto document = parse(packet("<rdf:Description rdf:about='' exif:GPSLatitude='37,46.494N'/>"));
    auto element = theDescription(document);
    diag::LineCapture capture;
    xmp::setElementValue("37.77490000N", "exif:GPSLatitude", element);
    const std::string text = document.serializePretty();
    EXPECT_NE(text.find("exif:GPSLatitude=\"37,46.494N\""), std::string::npos) << text;
    EXPECT_NE(text.find("<exif:GPSLatitude>37.77490000N</exif:GPSLatitude>"), std::string::npos) << text;
    EXPECT_EQ(xmp::getElementValue("exif:GPSLatitude", element), "37.77490000N");
}

TEST(SetElementValue, WrittenValuesReadBackAfterReparsing) {
    auto document = parse(description("<dc:format>image/heic</dc:format>"));
    auto element = theDescription(document);
    diag::LineCapture capture;
    xmp::setElementValue("37.77490000N", "exif:GPSLatitude", element);
    xmp::setElementValue("122.41940000W", "exif:GPSLongitude", element);
    xmp::setElementValue("N", "exif:GPSLatitudeRef", element);
    xmp::setElementValue("W", "exif:GPSLongitudeRef", element);

    const auto again = parse(document.serializePretty());
    const auto found = xmp::findDescriptionElement(again);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(xmp::getElementValue("exif:GPSLatitude", *found), "37.77490000N");
    EXPECT_EQ(xmp::getElementValue("exif:GPSLongitude", *found), "122.41940000W");
    EXPECT_EQ(xmp::getElementValue("exif:GPSLatitudeRef", *found), "N");
    EXPECT_EQ(xmp::getElementValue("exif:GPSLongitudeRef", *found), "W");
}

// ---- nameIndicatesGPS --------------------------------------------------------

struct NameCase {
    const char* name;
    const char* elementName;
    bool expected;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class NameIndicatesGPS : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameIndicatesGPS, Decides) {
    EXPECT_EQ(xmp::nameIndicatesGPS(GetParam().elementName), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameIndicatesGPS,
    ::testing::Values(NameCase{"ExifLatitude", "exif:GPSLatitude", true},
                      NameCase{"ExifLongitude", "exif:GPSLongitude", true},
                      NameCase{"UnprefixedLongitudeRef", "GPSLongitudeRef", true},
                      NameCase{"LatitudeRef", "exif:GPSLatitudeRef", true},
                      NameCase{"ForeignPrefix", "bopt:GPSLatitude", true},
                      NameCase{"SurroundingText", "xGPSLongitudeFoo", true},
                      NameCase{"Altitude", "exif:GPSAltitude", false},
                      NameCase{"TimeStamp", "exif:GPSTimeStamp", false},
                      NameCase{"LowerCase", "exif:gpslatitude", false},
                      NameCase{"Empty", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace meridane::xmp
