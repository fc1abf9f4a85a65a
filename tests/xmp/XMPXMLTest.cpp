// SPDX-License-Identifier: GPL-3.0-or-later
// XMPXML: which element holds the GPS properties, how properties are read
// and written, and one golden trace of each kind of line.
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

TEST(XMPXML, FindsTheElementHoldingTheGPSProperties) {
    std::string deep;
    for (int i = 0; i < 250; ++i)
        deep += "<e" + std::to_string(i) + ">";
    deep += "<GPSLatitude>1</GPSLatitude>";
    for (int i = 249; i >= 0; --i)
        deep += "</e" + std::to_string(i) + ">";
    const struct {
        std::string xml;
        std::string found;  ///< name and rdf:about of the element found, "none"
    } cases[] = {
        {packet("<rdf:Description rdf:about='1'><xmp:R>1</xmp:R></rdf:Description>"
                "<rdf:Description rdf:about='2'><exif:GPSLongitude>2</exif:GPSLongitude></rdf:Description>"),
         "rdf:Description 2"},
        {packet("<rdf:Description rdf:about='1' exif:GPSLatitude='1N'/><rdf:Description rdf:about='2'/>"),
         "rdf:Description 1"},
        {"<rdf:Description xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#' rdf:about='r'><a/></rdf:Description>",
         "rdf:Description r"},
        {packet("<rdf:Bag><rdf:li>x</rdf:li></rdf:Bag>"), "none"},
        {deep, "e249 "},
    };
    diag::ScopedSink quiet([](std::string_view) {});
    for (const auto& c : cases) {
        const XmlDocument document = std::move(XmlDocument::parse(c.xml).value());
        const auto found = findDescriptionElement(document);
        EXPECT_EQ(found ? *found->name() + " " + found->attribute("rdf:about").value_or("") : "none", c.found)
            << c.xml.substr(0, 300);
    }
}

TEST(XMPXML, ReadsAndWritesOnlyExactlyNamedChildren) {
    const XmlDocument document = std::move(XmlDocument::parse(packet(
        "<rdf:Description><xmp:GPSLatitude>9</xmp:GPSLatitude><GPSLatitude>\n  1.5N \n</GPSLatitude>"
        "<exif:GPSLongitude>2</exif:GPSLongitude><exif:GPSLongitude>3</exif:GPSLongitude>"
        "<exif:GPSLatitudeRef></exif:GPSLatitudeRef></rdf:Description>")).value());
    diag::ScopedSink quiet([](std::string_view) {});
    XmlElement d = *findDescriptionElement(document);
    EXPECT_EQ(getElementValue("exif:GPSLatitude", d), "1.5N");
    EXPECT_EQ(getElementValue("exif:GPSLongitude", d), "2");
    EXPECT_EQ(getElementValue("exif:GPSLatitudeRef", d), "");
    EXPECT_EQ(getElementValue("exif:GPSLongitudeRef", d), std::nullopt);
    setElementValue("4", "exif:GPSLongitude", d);
    setElementValue("W", "exif:GPSLongitudeRef", d);
    setElementValue("N", "exif:GPSLatitude", d);
    std::vector<std::string> children;
    for (const XmlNode& child : d.children())
        children.push_back(child.name().value_or("") + "=" + child.stringValue().value_or(""));
    EXPECT_THAT(children, ElementsAre("xmp:GPSLatitude=9", "GPSLatitude=N", "exif:GPSLongitude=4",
                                      "exif:GPSLongitude=3", "exif:GPSLatitudeRef=", "exif:GPSLongitudeRef=W"));
}

}  // namespace
}  // namespace meridane::xmp
