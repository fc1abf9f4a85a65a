// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/XMPXML.h"
#include "base/Diagnostics.h"
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace meridane::xmp {
namespace {
using ::testing::ElementsAre;

std::string packet(const std::string& body) {
    return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'"
           " xmlns:exif='http://ns.adobe.com/exif/1.0/' xmlns:xmp='http://ns.adobe.com/xap/1.0/'>" +
           body + "</rdf:RDF></x:xmpmeta>";
}

TEST(XMPXML, FindsTheDescriptionHoldingTheGPSProperties) {
    const struct {
        std::string xml;
        int found;  ///< index among the descriptions, -1 for none
    } cases[] = {
        {packet("<rdf:Description rdf:about='1'><xmp:R>1</xmp:R></rdf:Description>"
                "<rdf:Description rdf:about='2'><exif:GPSLongitude>2</exif:GPSLongitude></rdf:Description>"),
         1},
        {packet("<rdf:Description rdf:about='1'/><rdf:Description rdf:about='2' exif:GPSLatitude='1N'/>"), 1},
        // Another namespace's GPSLatitude is no GPS property: the first description serves.
        {packet("<rdf:Description/><rdf:Description><xmp:GPSLatitude>1</xmp:GPSLatitude></rdf:Description>"), 0},
        {packet("<rdf:Bag><rdf:li>x</rdf:li></rdf:Bag>"), -1},
        {"<rdf:Description xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'/>", -1},
    };
    diag::ScopedSink quiet([](std::string_view) {});
    for (const auto& c : cases) {
        const auto parsed = XmpPacket::parse(c.xml);
        ASSERT_TRUE(parsed);
        const Description* found = findDescriptionElement(parsed.value());
        EXPECT_EQ(found ? static_cast<int>(found - parsed->descriptions().data()) : -1, c.found) << c.xml;
    }
}

TEST(XMPXML, ReadsAndWritesByNamespaceWhereThePropertyStands) {
    const std::string text = packet(
        "<rdf:Description xmlns:ex='http://ns.adobe.com/exif/1.0/' ex:GPSLatitudeRef='north'>"
        "<xmp:GPSLatitude>9</xmp:GPSLatitude><ex:GPSLatitude>\n  1.5N \n</ex:GPSLatitude>"
        "<exif:GPSLongitude>2</exif:GPSLongitude></rdf:Description>"
        "<rdf:Description><exif:GPSLongitude>3</exif:GPSLongitude><exif:GPSAltitude>4</exif:GPSAltitude>"
        "</rdf:Description>");
    const auto parsed = XmpPacket::parse(text);
    ASSERT_TRUE(parsed);
    const XmpPacket& xmp = parsed.value();
    std::vector<std::string> lines;
    diag::ScopedSink sink([&](std::string_view line) { lines.emplace_back(line); });
    const Description& d = *findDescriptionElement(xmp);
    EXPECT_EQ(getElementValue("exif:GPSLatitude", xmp, d), "1.5N");
    EXPECT_EQ(getElementValue("exif:GPSLongitude", xmp, d), "2");
    EXPECT_EQ(getElementValue("exif:GPSLatitudeRef", xmp, d), "north");
    EXPECT_EQ(getElementValue("exif:GPSLongitudeRef", xmp, d), std::nullopt);
    EXPECT_EQ(countProperties("exif:GPSLongitude", xmp), 2);
    EXPECT_EQ(xmp.nameOf(*firstGPSNamedProperty(xmp)), "ex:GPSLatitudeRef");
    XmpEdit edit(xmp);
    setElementValue("S", "exif:GPSLatitudeRef", xmp, d, edit);
    setElementValue("W", "exif:GPSLongitudeRef", xmp, d, edit);
    const std::string result = edit.result();
    const auto written = XmpPacket::parse(result);
    ASSERT_TRUE(written) << edit.result();
    EXPECT_EQ(propertyText("exif:GPSLatitudeRef", written.value()), "S");
    EXPECT_EQ(propertyText("exif:GPSLongitudeRef", written.value()), "W");
    EXPECT_NE(edit.result().find("<exif:GPSLongitude>2</exif:GPSLongitude><exif:GPSLongitudeRef>W"),
              std::string::npos);
    // The container's listing is in the golden traces; how each value was set is not.
    EXPECT_THAT(std::vector<std::string>(lines.end() - 4, lines.end()),
                ElementsAre("[DEBUG] XMPXML: Setting 'exif:GPSLatitudeRef' = 'S'",
                            "[DEBUG] XMPXML: Updated existing attribute 'ex:GPSLatitudeRef'",
                            "[DEBUG] XMPXML: Setting 'exif:GPSLongitudeRef' = 'W'",
                            "[DEBUG] XMPXML: Created new element 'exif:GPSLongitudeRef'"));
}

}  // namespace
}  // namespace meridane::xmp
