// SPDX-License-Identifier: GPL-3.0-or-later
// The XML layer: strict offline parsing of hostile input, which text the tree
// keeps, attributes, new elements and serialisation.
#include "xmp/XmlDocument.h"
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

XmlDocument parsed(const std::string& xml) {
    auto document = XmlDocument::parse(xml);
    return document ? std::move(document).value() : std::move(XmlDocument::parse("<unparsed/>").value());
}

TEST(XmlDocument, RefusesHostileOrBrokenInputInOneLineQuietly) {
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fragment);
        ::testing::internal::CaptureStderr();
        const auto result = XmlDocument::parse(c.bytes);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().code, c.code);
        EXPECT_NE(result.error().message.find(c.fragment), std::string::npos) << result.error().message;
        EXPECT_EQ(result.error().message.find('\n'), std::string::npos);
    }
}

TEST(XmlDocument, ReadsNothingFromOutsideTheFile) {
    testing::TempDir dir;
    testing::writeFile(dir / "secret", "TOP-SECRET");
    const std::string secret = (dir / "secret").string();
    for (const std::string& xml : {"<!DOCTYPE a [<!ENTITY s SYSTEM \"file://" + secret + "\">]><a>&s;</a>",
                                   "<!DOCTYPE a [<!ENTITY % p SYSTEM \"" + secret + "\"> %p;]><a>x</a>",
                                   std::string("<!DOCTYPE a SYSTEM \"http://127.0.0.1:9/x.dtd\"><a>x</a>")}) {
        const XmlDocument document = parsed(xml);
        EXPECT_EQ(document.serializePretty().find("TOP-SECRET"), std::string::npos) << xml;
    }
}

TEST(XmlDocument, KeepsEveryTextButIndentation) {
    const struct {
        std::string xml, pretty;  ///< the root element as serialised
    } cases[] = {
        {"<r>\n  <a>1</a>\n  <b/>\n</r>", "<r>\n  <a>1</a>\n  <b/>\n</r>"},
        {"<r><li> </li><li>\n</li></r>", "<r>\n  <li> </li>\n  <li>\n</li>\n</r>"},
        {"<r>a <b>bold</b> <i>x</i></r>", "<r>a <b>bold</b> <i>x</i></r>"},
        {"<r xml:space=\"preserve\">\n <a/> <b> </b>\n</r>", "<r xml:space=\"preserve\">\n <a/> <b> </b>\n</r>"},
        {"<r><!-- c --> <?pi x?>\n<a/></r>", "<r>\n  <!-- c -->\n  <?pi x?>\n  <a/>\n</r>"},
    };
    for (const auto& c : cases) {
        const std::string text = parsed(c.xml).serializePretty();
        EXPECT_EQ(text, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + c.pretty + "\n") << c.xml;
        EXPECT_EQ(parsed(text).serializePretty(), text) << "not stable: " << c.xml;
    }
}

TEST(XmlDocument, AttributesAreFoundByPrefixOrNamespaceAndRemoved) {
    const XmlDocument document =
        parsed("<r xmlns:exif='http://ns.adobe.com/exif/1.0/' xmlns:ex='http://ns.adobe.com/exif/1.0/'"
               " xmlns:o='urn:other'><d ex:GPSLatitude='1N' o:GPSLongitude='2E' exif:GPSAltitude='3'/></r>");
    XmlElement d = document.rootElement()->children().front().asElement().value();
    EXPECT_EQ(d.attribute("exif:GPSLatitude"), "1N");
    EXPECT_EQ(d.attribute("exif:GPSLongitude"), std::nullopt);
    EXPECT_EQ(d.attribute("o:GPSLongitude"), "2E");
    d.removeAttribute("exif:GPSLatitude");
    EXPECT_EQ(d.attribute("exif:GPSLatitude"), std::nullopt);
    EXPECT_EQ(d.attribute("exif:GPSAltitude"), "3");
}

TEST(XmlDocument, NewElementsAreBoundToTheirNamespace) {
    const struct {
        std::string xml, name, element;
    } cases[] = {
        {"<r xmlns:exif='urn:e'><d/></r>", "exif:GPSLatitude", "<exif:GPSLatitude>1 &amp; 2</exif:GPSLatitude>"},
        {"<r><d/></r>", "exif:GPSLatitude",
         "<exif:GPSLatitude xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">1 &amp; 2</exif:GPSLatitude>"},
        {"<r><d/></r>", "zz:GPSLatitude", "<zz:GPSLatitude>1 &amp; 2</zz:GPSLatitude>"},
    };
    for (const auto& c : cases) {
        XmlDocument document = parsed(c.xml);
        XmlElement d = document.rootElement()->children().front().asElement().value();
        d.appendChildElement(c.name, "1 & 2");
        EXPECT_NE(document.serializePretty().find(c.element), std::string::npos) << document.serializePretty();
    }
}

}  // namespace
}  // namespace meridane::xmp
