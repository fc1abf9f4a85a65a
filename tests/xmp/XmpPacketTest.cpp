// SPDX-License-Identifier: GPL-3.0-or-later
// The packet: strict offline parsing of hostile input, and which properties it sees.
#include "xmp/XmpPacket.h"
#include "TestSupport.h"

#include <libxml/xmlerror.h>

#include <gtest/gtest.h>

namespace meridane::xmp {
namespace {
using namespace std::string_literals;

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

constexpr const char* kOpen = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                              "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>";
constexpr const char* kClose = "</rdf:RDF></x:xmpmeta>";
constexpr const char* kExif = "xmlns:exif='http://ns.adobe.com/exif/1.0/'";

// Every top-level property as "name[form shape gps]=value".
std::string described(const XmpPacket& packet) {
    std::string out;
    for (const Description& description : packet.descriptions()) {
        out += "{";
        for (const Property& property : packet.properties(description)) {
            out += std::string(packet.nameOf(property)) + "[" +
                   (property.form == Property::Form::attribute ? "a" : "e") +
                   "sqtA"[static_cast<int>(property.shape)] + std::to_string(static_cast<int>(property.gps)) +
                   "]=" + packet.valueText(property) + ";";
        }
        out += "}";
    }
    return out;
}

TEST(XmpPacket, RefusesHostileOrBrokenInputInOneLineQuietly) {
    std::string laughs = "<!DOCTYPE l [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 9; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" + repeated("&l" + std::to_string(i - 1) + ";", 10) + "\">";
    laughs += "]><l>&l9;</l>";
    const std::string blowup = "<!DOCTYPE x [<!ENTITY a \"" + std::string(50'000, 'A') + "\">]><x>" +
                               repeated("&a;", 20'000) + "</x>";
    const struct {
        std::string bytes;
        int code;
        const char* fragment;
    } cases[] = {
        {"", XML_ERR_DOCUMENT_EMPTY, "Document is empty"},
        {"<a>\n<b></a>", XML_ERR_TAG_NAME_MISMATCH, "XML parse error at line 2: "},
        {"<a/>junk", XML_ERR_DOCUMENT_END, "Extra content"},
        {"<a>1\0 2</a>"s, XML_ERR_INVALID_CHAR, "line 1"},
        {"<a>\xCB\xCB</a>", XML_ERR_INVALID_CHAR, "not proper UTF-8"},
        {laughs, XML_ERR_ENTITY_LOOP, "entity reference loop"},
        {blowup, XML_ERR_ENTITY_LOOP, "entity references expand to more than 10000000 characters"},
        {repeated("<a>", 200'000) + repeated("</a>", 200'000), XML_ERR_INTERNAL_ERROR, "Excessive depth"},
        {"<a>&nope;</a>", XML_ERR_UNDECLARED_ENTITY, "'nope' not defined"},
        {"<?xml version='1.0' encoding='no-such-charset'?><a/>", XML_ERR_UNSUPPORTED_ENCODING, "no-such-charset"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fragment);
        ::testing::internal::CaptureStderr();
        const auto result = XmpPacket::parse(c.bytes);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().code, c.code);
        EXPECT_NE(result.error().message.find(c.fragment), std::string::npos) << result.error().message;
        EXPECT_EQ(result.error().message.find('\n'), std::string::npos);
    }
}

TEST(XmpPacket, ReadsNothingFromOutsideTheFile) {
    testing::TempDir dir;
    testing::writeFile(dir / "secret", "TOP-SECRET");
    const std::string secret = (dir / "secret").string();
    for (const std::string& doctype : {"<!DOCTYPE x:xmpmeta [<!ENTITY s SYSTEM \"file://" + secret + "\">]>",
                                       "<!DOCTYPE x:xmpmeta [<!ENTITY % p SYSTEM \"" + secret + "\"> %p;]>",
                                       std::string("<!DOCTYPE x:xmpmeta SYSTEM \"http://127.0.0.1:9/x.dtd\">")}) {
        const std::string xml = doctype + kOpen + "<rdf:Description " + kExif +
                                "><exif:GPSLatitude>1&amp;&s;</exif:GPSLatitude></rdf:Description>" + kClose;
        const auto packet = XmpPacket::parse(xml);
        if (packet) {
            EXPECT_EQ(described(packet.value()).find("TOP-SECRET"), std::string::npos) << xml;
        }
    }
}

TEST(XmpPacket, SeesTopLevelPropertiesByNamespace) {
    const struct {
        std::string body;  ///< what stands between rdf:RDF's tags
        std::string seen;
    } cases[] = {
        // Attribute and element forms; a prefix of the file's own choosing.
        {"<rdf:Description rdf:about='' xmlns:ex='http://ns.adobe.com/exif/1.0/' ex:GPSLatitude='30,34.8N'"
         " xml:lang='en'>\n <ex:GPSLongitude> 1&amp;2 </ex:GPSLongitude>\n <ex:GPSAltitude/>\n</rdf:Description>",
         "{ex:GPSLatitude[as0]=30,34.8N;ex:GPSLongitude[es1]= 1&2 ;ex:GPSAltitude[es-1]=;}"},
        // "exif" bound to another namespace is not the exif namespace.
        {"<rdf:Description xmlns:exif='urn:other' exif:GPSLatitude='1N'/>", "{exif:GPSLatitude[as-1]=1N;}"},
        // A second description; a struct holding GPS fields is one property.
        {"<rdf:Description xmlns:I='http://iptc.org/std/Iptc4xmpExt/2008-02-29/' " + std::string(kExif) +
             "><I:LocationShown><rdf:Bag><rdf:li rdf:parseType='Resource'><exif:GPSLatitude>9N</exif:GPSLatitude>"
             "</rdf:li></rdf:Bag></I:LocationShown></rdf:Description><rdf:Description " + kExif +
             " exif:GPSLongitude='2E'/>",
         "{I:LocationShown[eA-1]=9N;}{exif:GPSLongitude[as1]=2E;}"},
        // Qualified values, both ways; a struct; CDATA and references.
        {"<rdf:Description " + std::string(kExif) + " xmlns:xmp='http://ns.adobe.com/xap/1.0/'>"
             "<exif:GPSLatitude rdf:parseType='Resource'><rdf:value>1N</rdf:value><xmp:S>a</xmp:S></exif:GPSLatitude>"
             "<exif:GPSLongitude><rdf:Description xmp:S='b'><rdf:value>2E</rdf:value></rdf:Description>"
             "</exif:GPSLongitude><exif:GPSLatitudeRef rdf:parseType='Resource'><xmp:S>c</xmp:S>"
             "</exif:GPSLatitudeRef><exif:GPSLongitudeRef><![CDATA[<E>]]>&#x45;&lt;</exif:GPSLongitudeRef>"
             "</rdf:Description>",
         "{exif:GPSLatitude[eq0]=1N;exif:GPSLongitude[eq1]=2E;exif:GPSLatitudeRef[et2]=c;"
         "exif:GPSLongitudeRef[es3]=<E>E<;}"},
        // Attribute values are normalised as readers see them.
        {"<rdf:Description " + std::string(kExif) + " exif:GPSLatitude=\"1&#10;2\n3\t&quot;\"/>",
         "{exif:GPSLatitude[as0]=1\n2 3 \";}"},
    };
    for (const auto& c : cases) {
        const std::string text = kOpen + c.body + kClose;
        const auto packet = XmpPacket::parse(text);
        ASSERT_TRUE(packet) << packet.error().message;
        EXPECT_EQ(described(packet.value()), c.seen) << c.body;
    }
}

TEST(XmpPacket, OtherEncodingsAreReadAsUtf8) {
    const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + std::string(kOpen) +
                             "<rdf:Description " + kExif + " exif:GPSLatitude='1N'>\xC3\xA9</rdf:Description>" +
                             kClose;
    std::string utf16 = "\xFF\xFE";
    for (unsigned char c : utf8) {
        // The text is ASCII but for one é, written as U+00E9.
        if (c == 0xC3)
            continue;
        utf16 += static_cast<char>(c == 0xA9 ? 0xE9 : c);
        utf16 += '\0';
    }
    const auto packet = XmpPacket::parse(utf16);
    ASSERT_TRUE(packet) << packet.error().message;
    EXPECT_TRUE(packet->converted());
    EXPECT_TRUE(packet->text().starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")) << packet->text();
    EXPECT_NE(packet->text().find("\xC3\xA9"), std::string_view::npos);
    EXPECT_EQ(described(packet.value()), "{exif:GPSLatitude[as0]=1N;}");

    const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>";
    const auto converted = XmpPacket::parse(latin1);
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->text(), "<?xml version='1.0' encoding='UTF-8'?><a>\xC3\xA9</a>");
}

}  // namespace
}  // namespace meridane::xmp
