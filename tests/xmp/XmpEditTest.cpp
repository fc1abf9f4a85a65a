// SPDX-License-Identifier: GPL-3.0-or-later
// Edits change exactly the bytes of what they change.
#include "xmp/XmpEdit.h"

#include <gtest/gtest.h>

namespace meridane::xmp {
namespace {

constexpr const char* kOpen = "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>";
constexpr const char* kClose = "</rdf:RDF>";

const Property* gpsProperty(const XmpPacket& packet, GPSName name) {
    for (const Description& description : packet.descriptions())
        for (const Property& property : packet.properties(description))
            if (property.gps == name)
                return &property;
    return nullptr;
}

// The latitude set to "1<&'\"N" where the case says so, the longitude "2E" added.
TEST(XmpEdit, ChangesOnlyTheValuesBytesAndBindsANewPropertysPrefix) {
    const struct {
        std::string before, after;  ///< the description
        bool setLatitude;
    } cases[] = {
        // Attribute in single quotes; the new longitude follows the last
        // attribute with its separator (one per line, as darktable writes).
        {"<rdf:Description\n   xmlns:exif='http://ns.adobe.com/exif/1.0/'\n   exif:GPSLatitude='0N'/>",
         "<rdf:Description\n   xmlns:exif='http://ns.adobe.com/exif/1.0/'\n   exif:GPSLatitude='1&lt;&amp;&apos;\"N'"
         "\n   exif:GPSLongitude='2E'/>", true},
        // Elements with CRLF: the new one gets its sibling's line end and indentation.
        {"<rdf:Description xmlns:e=\"http://ns.adobe.com/exif/1.0/\">\r\n\t<e:GPSLatitude>0N</e:GPSLatitude>\r\n"
         "</rdf:Description>",
         "<rdf:Description xmlns:e=\"http://ns.adobe.com/exif/1.0/\">\r\n\t<e:GPSLatitude>1&lt;&amp;'\"N</e:GPSLatitude>"
         "\r\n\t<e:GPSLongitude>2E</e:GPSLongitude>\r\n</rdf:Description>", true},
        // An empty element opens up; a qualified value keeps its qualifier.
        {"<rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/'><exif:GPSLatitude /></rdf:Description>",
         "<rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/'><exif:GPSLatitude >1&lt;&amp;'\"N"
         "</exif:GPSLatitude><exif:GPSLongitude>2E</exif:GPSLongitude></rdf:Description>", true},
        {"<rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/' xmlns:q='urn:q'>\n <exif:GPSLatitude "
         "rdf:parseType='Resource'><rdf:value>0N</rdf:value><q:s>x</q:s></exif:GPSLatitude>\n</rdf:Description>",
         "<rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/' xmlns:q='urn:q'>\n <exif:GPSLatitude "
         "rdf:parseType='Resource'><rdf:value>1&lt;&amp;'\"N</rdf:value><q:s>x</q:s></exif:GPSLatitude>\n"
         " <exif:GPSLongitude>2E</exif:GPSLongitude>\n</rdf:Description>", true},
        // Bound on an ancestor under another name: used as it is.
        {"<rdf:Description xmlns:ex='http://ns.adobe.com/exif/1.0/' rdf:about=''/>",
         "<rdf:Description xmlns:ex='http://ns.adobe.com/exif/1.0/' rdf:about='' ex:GPSLongitude='2E'/>", false},
        // Not bound: declared on the description.
        {"<rdf:Description rdf:about=\"\">\n  <a:b xmlns:a='urn:a'>x</a:b>\n</rdf:Description>",
         "<rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n  <a:b xmlns:a='urn:a'>x</a:b>"
         "\n  <exif:GPSLongitude>2E</exif:GPSLongitude>\n</rdf:Description>", false},
        // "exif" taken by another namespace: a free prefix instead.
        {"<rdf:Description xmlns:exif='urn:not-exif' xmlns:exif1='urn:x'/>",
         "<rdf:Description xmlns:exif='urn:not-exif' xmlns:exif1='urn:x' xmlns:exif2='http://ns.adobe.com/exif/1.0/'"
         " exif2:GPSLongitude='2E'/>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        const std::string text = kOpen + c.before + kClose;
        const auto packet = XmpPacket::parse(text);
        ASSERT_TRUE(packet) << packet.error().message;
        XmpEdit edit(packet.value());
        if (c.setLatitude) {
            const Property* latitude = gpsProperty(packet.value(), GPSName::latitude);
            ASSERT_NE(latitude, nullptr);
            edit.setValue(*latitude, "1<&'\"N");
        }
        edit.addExifProperty(packet->descriptions().front(), "GPSLongitude", "2E");
        const std::string result = edit.result();
        EXPECT_EQ(result, kOpen + c.after + kClose);
        const auto again = XmpPacket::parse(result);  // views `result`
        ASSERT_TRUE(again) << result;
        const Property* longitude = gpsProperty(again.value(), GPSName::longitude);
        ASSERT_NE(longitude, nullptr) << result;
        EXPECT_EQ(again->valueText(*longitude), "2E");
        if (c.setLatitude) {
            EXPECT_EQ(again->valueText(*gpsProperty(again.value(), GPSName::latitude)), "1<&'\"N");
        }
    }
}

}  // namespace
}  // namespace meridane::xmp
