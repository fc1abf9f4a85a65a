// The XML layer: strict offline parsing of hostile input, the tree as the
// sidecar code sees it, and serialisation that keeps what it must and parses
// again.
#include "xmp/XmlDocument.h"

#include "TestSupport.h"

#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>

namespace meridane::xmp {
namespace {

using namespace std::string_literals;

XmlDocument parseOk(std::string_view bytes) {
    auto result = XmlDocument::parse(bytes);
    if (!result.ok()) {
        ADD_FAILURE() << "parse failed: " << result.error().message;
        return std::move(XmlDocument::parse("<empty/>").value());
    }
    return std::move(result).value();
}

XmlElement rootOf(const XmlDocument& document) {
    auto root = document.rootElement();
    EXPECT_TRUE(root.has_value());
    return *root;
}

std::string billionLaughs() {
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n";
    xml += " <!ENTITY lol1 \"";
    for (int i = 0; i < 10; ++i)
        xml += "&lol;";
    xml += "\">\n";
    for (int level = 2; level <= 9; ++level) {
        xml += " <!ENTITY lol" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i)
            xml += "&lol" + std::to_string(level - 1) + ";";
        xml += "\">\n";
    }
    xml += "]>\n<lolz>&lol9;</lolz>\n";
    return xml;
}

// One modest entity referenced many times: each step is linear, the total
// is a gigabyte of text once expanded.
std::string quadraticBlowup() {
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE x [<!ENTITY a \"" + std::string(50'000, 'A') + "\">]>\n<x>";
    for (int i = 0; i < 20'000; ++i)
        xml += "&a;";
    return xml + "</x>";
}

std::string nested(int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i)
        xml += "<a>";
    for (int i = 0; i < depth; ++i)
        xml += "</a>";
    return xml;
}

std::string utf16le(std::string_view ascii) {
    std::string bytes = "\xFF\xFE"s;
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

// ---- Input that must be refused with a clear error -------------------------

struct RejectCase {
    const char* name;
    std::string bytes;
    int code;               ///< libxml2's error code
    const char* fragment;   ///< part of the message
};

void PrintTo(const RejectCase& c, std::ostream* os) { *os << c.name; }

class Rejects : public ::testing::TestWithParam<RejectCase> {};

TEST_P(Rejects, WithTheParserErrorAndNothingOnStandardError) {
    ::testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    const auto result = XmlDocument::parse(GetParam().bytes);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::string stderrText = ::testing::internal::GetCapturedStderr();

    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().domain, ErrorDomain::xmlParser);
    EXPECT_EQ(result.error().code, GetParam().code);
    EXPECT_NE(result.error().message.find(GetParam().fragment), std::string::npos) << result.error().message;
    EXPECT_EQ(result.error().message.find('\n'), std::string::npos) << "one line: " << result.error().message;
    EXPECT_EQ(stderrText, "");
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, Rejects,
    ::testing::Values(
        RejectCase{"Empty", "", XML_ERR_DOCUMENT_EMPTY, "Document is empty"},
        RejectCase{"OnlyWhitespace", " \n\t\n", XML_ERR_DOCUMENT_EMPTY, "Start tag expected"},
        RejectCase{"MismatchedTags", "<a>\n<b></a>", XML_ERR_TAG_NAME_MISMATCH, "line 2"},
        RejectCase{"Unclosed", "<x:xmpmeta xmlns:x='adobe:ns:meta/'>", XML_ERR_TAG_NOT_FINISHED,
                   "XML parse error at line 1"},
        RejectCase{"TextAfterRoot", "<a/>junk", XML_ERR_DOCUMENT_END, "Extra content"},
        RejectCase{"Binary", "\xFF\x01\x45xiv2\xFF\xE1\x3B\xC0\x45xif\0\0II*\0"s, XML_ERR_DOCUMENT_EMPTY,
                   "Start tag expected"},
        RejectCase{"NulInsideText", "<a>1\0 2</a>"s, XML_ERR_INVALID_CHAR, "line 1"},
        RejectCase{"InvalidUtf8", "<a>\xCB\xCB\xCB</a>", XML_ERR_INVALID_CHAR, "not proper UTF-8"},
        RejectCase{"ControlCharacterInPI", "<?xpacket begin=\"\x1A\"?><a/>", XML_ERR_PI_NOT_FINISHED, "xpacket"},
        RejectCase{"BomThenGarbage", "\xEF\xBB\xBF<?xml    <?xpacket aaaa", XML_ERR_VERSION_MISSING,
                   "Malformed declaration"},
        RejectCase{"BillionLaughs", billionLaughs(), XML_ERR_ENTITY_LOOP, "entity reference loop"},
        RejectCase{"QuadraticBlowup", quadraticBlowup(), XML_ERR_ENTITY_LOOP, "entity references expand"},
        RejectCase{"DeeperThanTheParserLimit", nested(300), XML_ERR_INTERNAL_ERROR, "Excessive depth"},
        RejectCase{"VeryDeep", nested(200'000), XML_ERR_INTERNAL_ERROR, "Excessive depth"},
        RejectCase{"UndeclaredEntity", "<a>&nope;</a>", XML_ERR_UNDECLARED_ENTITY, "'nope' not defined"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Hostile input that parses, and must do no harm -------------------------

class HostileAccepted : public ::testing::Test {
protected:
    testing::TempDir dir;
};

TEST_F(HostileAccepted, ExternalEntityIsNotRead) {
    const auto secret = dir / "secret.txt";
    testing::writeFile(secret, "TOPSECRET");
    const std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY e SYSTEM \"file://" + secret.string() +
                            "\">]><x>a&e;b</x>";
    const auto document = parseOk(xml);
    EXPECT_EQ(rootOf(document).stringValue(), "ab");
    EXPECT_EQ(document.serializePretty().find("TOPSECRET"), std::string::npos);
}

TEST_F(HostileAccepted, ExternalParameterEntityIsNotRead) {
    const auto dtd = dir / "evil.dtd";
    testing::writeFile(dtd, "<!ENTITY e \"LOADED\">");
    const std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY % p SYSTEM \"file://" + dtd.string() +
                            "\"> %p;]><x>a&e;b</x>";
    ::testing::internal::CaptureStderr();
    const auto result = XmlDocument::parse(xml);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // Either refused or read without the file's entity; never "LOADED".
    if (result.ok()) {
        EXPECT_EQ(rootOf(result.value()).stringValue(), "ab");
    }
}

TEST_F(HostileAccepted, ExternalDtdIsNotLoaded) {
    const auto dtd = dir / "ext.dtd";
    testing::writeFile(dtd, "<!ENTITY e \"LOADED\">");
    const std::string xml =
        "<?xml version=\"1.0\"?><!DOCTYPE x SYSTEM \"file://" + dtd.string() + "\"><x>a&e;b</x>";
    const auto document = parseOk(xml);
    EXPECT_EQ(rootOf(document).stringValue(), "ab");
}

TEST_F(HostileAccepted, DtdWithNetworkUrlIsNotFetched) {
    const auto start = std::chrono::steady_clock::now();
    const auto document =
        parseOk("<?xml version=\"1.0\"?><!DOCTYPE x SYSTEM \"http://192.0.2.1/x.dtd\"><x>ab</x>");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(rootOf(document).stringValue(), "ab");
}

TEST(XmlDocumentParse, InternalEntityIsPartOfTheText) {
    const auto document = parseOk("<!DOCTYPE x [<!ENTITY e \"37.5\">]><x>&e;N</x>");
    EXPECT_EQ(rootOf(document).stringValue(), "37.5N");
}

TEST(XmlDocumentParse, ModestEntityUseIsAccepted) {
    std::string xml = "<!DOCTYPE x [<!ENTITY a \"" + std::string(1000, 'A') + "\">]><x>";
    for (int i = 0; i < 100; ++i)
        xml += "&a;";
    const auto document = parseOk(xml + "</x>");
    EXPECT_EQ(rootOf(document).stringValue()->size(), 100'000u);
}

TEST(XmlDocumentParse, DepthUpToTheParserLimitIsAccepted) {
    const auto document = parseOk(nested(250));
    EXPECT_EQ(rootOf(document).name(), "a");
}

TEST(XmlDocumentParse, Utf16WithByteOrderMark) {
    const auto document = parseOk(utf16le("<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>\r\n"
                                          "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\r\n <v>37.5N</v>\r\n</x:xmpmeta>"));
    const auto root = rootOf(document);
    EXPECT_EQ(root.name(), "x:xmpmeta");
    EXPECT_EQ(root.stringValue(), "37.5N");
    const std::string text = document.serializePretty();
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u) << text;
    EXPECT_NE(text.find("<v>37.5N</v>"), std::string::npos) << "written as UTF-8";
}

TEST(XmlDocumentParse, Utf8ByteOrderMark) {
    const auto document = parseOk("\xEF\xBB\xBF<a>x</a>");
    EXPECT_EQ(rootOf(document).stringValue(), "x");
}

TEST(XmlDocumentParse, DeclaredLatin1IsReadAsUtf8) {
    const auto document = parseOk("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>Z\xFCrich</a>");
    EXPECT_EQ(rootOf(document).stringValue(), "Z\xC3\xBCrich");
}

TEST(XmlDocumentParse, UndeclaredPrefixIsReadAsWritten) {
    const auto document = parseOk("<a><exif:GPSLatitude>1</exif:GPSLatitude></a>");
    EXPECT_EQ(rootOf(document).children().at(0).name(), "exif:GPSLatitude");
}

TEST(XmlDocumentParse, LargePaddingParses) {
    // xpacket padding can be large; parsing stays linear.
    const std::string padding(3'000'000, ' ');
    const auto document = parseOk("<?xpacket begin=''?><a><b>1</b>" + padding + "</a><?xpacket end='w'?>");
    EXPECT_EQ(rootOf(document).children().size(), 1u);
}

TEST(XmlDocumentParse, ParsesOnSeveralThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 50; ++i) {
                const auto good = XmlDocument::parse("<a><b>" + std::to_string(i) + "</b></a>");
                const auto bad = XmlDocument::parse("<a><b></a>");
                if (!good.ok() || bad.ok() || bad.error().code != XML_ERR_TAG_NAME_MISMATCH)
                    ++failures[static_cast<size_t>(t)];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

// ---- The tree --------------------------------------------------------------

TEST(XmlTree, WhitespaceOnlyTextIsDroppedOtherNodesKept) {
    const auto document = parseOk("<a>\n  <b> x </b>\n  <!-- note -->\n  <?pi data?>\n  <c>   </c>\n</a>");
    const auto children = rootOf(document).children();
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[0].name(), "b");
    EXPECT_FALSE(children[1].isElement());
    EXPECT_EQ(children[1].stringValue(), " note ");
    EXPECT_FALSE(children[2].isElement());
    EXPECT_EQ(children[3].name(), "c");
    EXPECT_EQ(children[0].stringValue(), " x ") << "text with content keeps its spaces";
    EXPECT_TRUE(children[3].asElement()->children().empty());
    EXPECT_EQ(children[3].stringValue(), "") << "an empty element has the empty text, not none";
}

TEST(XmlTree, MixedContentTextIsKept) {
    const auto document = parseOk("<a>one <b>two</b> three</a>");
    const auto root = rootOf(document);
    EXPECT_EQ(root.children().size(), 3u);
    EXPECT_EQ(root.stringValue(), "one two three");
}

TEST(XmlTree, NamesAreQualifiedAsWritten) {
    const auto document = parseOk(
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description xmlns='urn:default'><GPSLatitude>1</GPSLatitude></rdf:Description></rdf:RDF>"
        "</x:xmpmeta>");
    const auto root = rootOf(document);
    EXPECT_EQ(root.name(), "x:xmpmeta");
    const auto rdf = root.children().at(0).asElement();
    EXPECT_EQ(rdf->name(), "rdf:RDF");
    const auto description = rdf->children().at(0).asElement();
    EXPECT_EQ(description->name(), "rdf:Description");
    EXPECT_EQ(description->children().at(0).name(), "GPSLatitude") << "default namespace: no prefix";
}

TEST(XmlTree, TextNodesHaveNoName) {
    const auto document = parseOk("<a>text<!--c--></a>");
    const auto children = rootOf(document).children();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_FALSE(children[0].name().has_value());
    EXPECT_FALSE(children[1].name().has_value());
    EXPECT_FALSE(children[0].asElement().has_value());
}

TEST(XmlTree, SetStringValueReplacesAllContentLiterally) {
    auto document = parseOk("<a><v>old<b>nested</b>text</v></a>");
    auto v = *rootOf(document).children().at(0).asElement();
    v.setStringValue("a&b<c");
    ASSERT_EQ(v.children().size(), 1u);
    EXPECT_FALSE(v.children()[0].isElement());
    EXPECT_EQ(v.stringValue(), "a&b<c");
    const std::string text = document.serializePretty();
    EXPECT_NE(text.find("<v>a&amp;b&lt;c</v>"), std::string::npos) << text;
    EXPECT_EQ(rootOf(parseOk(text)).stringValue(), "a&b<c");
}

TEST(XmlTree, SetStringValueToEmptyLeavesAnEmptyElement) {
    auto document = parseOk("<a><v>old</v></a>");
    auto v = *rootOf(document).children().at(0).asElement();
    v.setStringValue("");
    EXPECT_TRUE(v.children().empty());
    EXPECT_EQ(v.stringValue(), "");
}

// ---- New elements and their namespaces -------------------------------------

constexpr const char* kExifUri = "http://ns.adobe.com/exif/1.0/";

std::string namespaceOf(const XmlElement& element) {
    const xmlNode* node = element.raw();
    return node->ns && node->ns->href ? reinterpret_cast<const char*>(node->ns->href) : "";
}

XmlElement lastChildElement(const XmlElement& parent) {
    const auto children = parent.children();
    EXPECT_FALSE(children.empty());
    return *children.back().asElement();
}

TEST(NewElement, PrefixDeclaredOnAnAncestorIsBound) {
    auto document = parseOk(std::string("<x:xmpmeta xmlns:x='adobe:ns:meta/' xmlns:exif='") + kExifUri +
                            "'><d><exif:GPSAltitude>1</exif:GPSAltitude></d></x:xmpmeta>");
    auto d = *rootOf(document).children().at(0).asElement();
    const auto created = d.appendChildElement("exif:GPSLatitude", "37.5N");
    EXPECT_EQ(created.name(), "exif:GPSLatitude");
    EXPECT_EQ(namespaceOf(created), kExifUri);

    const std::string text = document.serializePretty();
    EXPECT_NE(text.find("<exif:GPSLatitude>37.5N</exif:GPSLatitude>"), std::string::npos) << text;
    EXPECT_EQ(text.find("xmlns:exif", text.find("xmlns:exif") + 1), std::string::npos) << "declared once: " << text;

    const auto again = parseOk(text);
    const auto reread = lastChildElement(*rootOf(again).children().at(0).asElement());
    EXPECT_EQ(reread.name(), "exif:GPSLatitude");
    EXPECT_EQ(namespaceOf(reread), kExifUri);
    EXPECT_EQ(reread.stringValue(), "37.5N");
}

TEST(NewElement, UndeclaredExifPrefixIsDeclaredOnTheElement) {
    auto document = parseOk("<x:xmpmeta xmlns:x='adobe:ns:meta/'><d/></x:xmpmeta>");
    auto d = *rootOf(document).children().at(0).asElement();
    d.appendChildElement("exif:GPSLongitude", "122.4194W");

    const std::string text = document.serializePretty();
    EXPECT_NE(text.find(std::string("<exif:GPSLongitude xmlns:exif=\"") + kExifUri + "\">122.4194W</exif:GPSLongitude>"),
              std::string::npos)
        << text;
    const auto again = parseOk(text);
    const auto reread = lastChildElement(*rootOf(again).children().at(0).asElement());
    EXPECT_EQ(reread.name(), "exif:GPSLongitude");
    EXPECT_EQ(namespaceOf(reread), kExifUri);
}

TEST(NewElement, PrefixBoundOnTheParentItselfIsUsed) {
    auto document = parseOk("<d xmlns:exif='urn:other'/>");
    auto d = rootOf(document);
    const auto created = d.appendChildElement("exif:GPSLatitude", "1");
    EXPECT_EQ(namespaceOf(created), "urn:other") << "the sidecar's own binding wins";
}

TEST(NewElement, UnknownUndeclaredPrefixKeepsTheNameAsWritten) {
    auto document = parseOk("<d/>");
    auto d = rootOf(document);
    const auto created = d.appendChildElement("foo:Bar", "1");
    EXPECT_EQ(created.name(), "foo:Bar");
    EXPECT_NE(document.serializePretty().find("<foo:Bar>1</foo:Bar>"), std::string::npos);
}

TEST(NewElement, UnprefixedName) {
    auto document = parseOk("<d/>");
    auto d = rootOf(document);
    const auto created = d.appendChildElement("GPSLatitude", "1");
    EXPECT_EQ(created.name(), "GPSLatitude");
    EXPECT_NE(document.serializePretty().find("<GPSLatitude>1</GPSLatitude>"), std::string::npos);
}

TEST(NewElement, IsAppendedLastAndIndentedLikeItsSiblings) {
    auto document = parseOk(
        "<r>\n    <d>\n        <p>1</p>\n        <!-- c -->\n    </d>\n</r>");
    auto d = *rootOf(document).children().at(0).asElement();
    d.appendChildElement("q", "2");
    EXPECT_EQ(document.serializePretty(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<r>\n"
              "  <d>\n"
              "    <p>1</p>\n"
              "    <!-- c -->\n"
              "    <q>2</q>\n"
              "  </d>\n"
              "</r>\n");
}

// ---- Serialisation ---------------------------------------------------------

constexpr const char* kPacket =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 6.0.0\">\n"
    "   <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    "      <!-- written by hand -->\n"
    "      <rdf:Description rdf:about=\"\"\n"
    "            xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
    "            exif:GPSAltitude=\"12/1\">\n"
    "         <exif:GPSLatitude>37,46.494N</exif:GPSLatitude>\n"
    "      </rdf:Description>\n"
    "   </rdf:RDF>\n"
    "</x:xmpmeta>\n"
    "<?xpacket end=\"w\"?>";

TEST(Serialisation, PrettyUtf8WithDeclarationKeepingEverything) {
    const std::string text = parseOk(kPacket).serializePretty();
    EXPECT_EQ(text,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
              "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 6.0.0\">\n"
              "  <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
              "    <!-- written by hand -->\n"
              "    <rdf:Description xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" rdf:about=\"\" "
              "exif:GPSAltitude=\"12/1\">\n"
              "      <exif:GPSLatitude>37,46.494N</exif:GPSLatitude>\n"
              "    </rdf:Description>\n"
              "  </rdf:RDF>\n"
              "</x:xmpmeta>\n"
              "<?xpacket end=\"w\"?>\n");
}

TEST(Serialisation, IsStableAcrossRoundTrips) {
    const std::string once = parseOk(kPacket).serializePretty();
    EXPECT_EQ(parseOk(once).serializePretty(), once);
}

TEST(Serialisation, DocumentMovesWithItsTree) {
    XmlDocument first = parseOk("<a>1</a>");
    XmlDocument second = std::move(first);
    EXPECT_EQ(rootOf(second).stringValue(), "1");
    first = parseOk("<b>2</b>");
    EXPECT_EQ(rootOf(first).name(), "b");
}

}  // namespace
}  // namespace meridane::xmp
