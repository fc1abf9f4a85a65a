// SPDX-License-Identifier: GPL-3.0-or-later
// A rewrite changes the four GPS properties and nothing else: read with
// libxml2 directly (not through the code under test), the sidecar before and
// after gives the same tree, blank text included, once the GPS properties
// (elements, and attributes of their names) are set aside. Over every corpus
// sidecar and a few hundred generated ones.
#include "HardeningSupport.h"
#include "base/Diagnostics.h"
#include "base/GPSText.h"
#include "sidecar/SidecarGPS.h"
#include "xmp/XMPXML.h"

#include <gtest/gtest.h>

#include <libxml/parser.h>

#include <random>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;

std::string text(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

bool isGps(const xmlChar* name) {
    const std::string n = text(name);
    return n == "GPSLatitude" || n == "GPSLongitude" || n == "GPSLatitudeRef" || n == "GPSLongitudeRef";
}

/// One line per node, depth first. Blank text is indentation, which pretty
/// printing lays out anew, when it sits among elements (or in a description,
/// which gains elements) with no other text, and xml:space does not apply.
void describe(xmlNode* n, int depth, std::string& out) {
    for (; n; n = n->next) {
        bool indentation = n->type == XML_TEXT_NODE && xmlIsBlankNode(n) && xmlNodeGetSpacePreserve(n->parent) != 1;
        bool amongElements = text(n->parent ? n->parent->name : nullptr).find("Description") != std::string::npos;
        for (xmlNode* s = n->parent ? n->parent->children : nullptr; indentation && s; s = s->next) {
            indentation = s->type == XML_ELEMENT_NODE || s->type == XML_COMMENT_NODE || s->type == XML_PI_NODE ||
                          (s->type == XML_TEXT_NODE && xmlIsBlankNode(s));
            amongElements = amongElements || s->type == XML_ELEMENT_NODE;
        }
        if ((n->type == XML_ELEMENT_NODE && isGps(n->name)) || (indentation && amongElements))
            continue;
        out += std::string(static_cast<size_t>(depth), ' ') + std::to_string(n->type) + " " +
               (n->ns && n->ns->prefix ? text(n->ns->prefix) + ":" : "") + text(n->name) + " [" + text(n->content) + "]";
        // A declaration of the exif namespace comes with the GPS properties it serves.
        for (xmlNs* ns = n->type == XML_ELEMENT_NODE ? n->nsDef : nullptr; ns; ns = ns->next)
            out += text(ns->href) == "http://ns.adobe.com/exif/1.0/" ? "" : " xmlns:" + text(ns->prefix) + "=" + text(ns->href);
        for (xmlAttr* a = n->type == XML_ELEMENT_NODE ? n->properties : nullptr; a; a = a->next)
            out += isGps(a->name) ? "" : " @" + text(a->name) + "=" + text(a->children ? a->children->content : nullptr);
        out += "\n";
        if (n->type == XML_ELEMENT_NODE)
            describe(n->children, depth + 1, out);
    }
}

std::string treeWithoutGps(const std::string& bytes) {
    xmlDoc* doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    std::string out = doc ? "" : "(does not parse)";
    if (doc)
        describe(doc->children, 0, out);
    xmlFreeDoc(doc);
    return out;
}

/// Forces an update to 41.125 N, 2.625 W; "" when everything but the GPS is kept.
std::string rewriteAndCompare(const fs::path& sidecar, int& written) {
    const std::string before = testing::readFile(sidecar);
    diag::ScopedSink quiet([](std::string_view) {});
    auto file = SidecarFile::open(sidecar, {.forSaving = true});
    const auto outcome = updateSidecarGPS(file, 41.125, -2.625, {false, true, {}});
    const std::string after = testing::readFile(sidecar);
    if (!outcome || !outcome->written)
        return after == before ? "" : "not written, yet changed";
    ++written;
    const auto packet = xmp::XmpPacket::parse(after);
    if (!packet || gpstext::canonicalGPSText(xmp::propertyText("exif:GPSLatitude", packet.value())) != "41.12500000N" ||
        gpstext::canonicalGPSText(xmp::propertyText("exif:GPSLongitude", packet.value())) != "2.62500000W")
        return "the position was not written";
    return treeWithoutGps(before) == treeWithoutGps(after) ? "" : "before:\n" + treeWithoutGps(before) + "after:\n" + treeWithoutGps(after);
}

TEST(TreePreservation, EveryCorpusSidecarKeepsEverythingButItsGps) {
    const auto corpus = testing::corpusDir();
    if (!corpus)
        GTEST_SKIP() << "the shared corpus is not here";
    testing::TempDir dir;
    int written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(*corpus))
        if (entry.path().extension() == ".xmp") {
            const fs::path copy = dir / entry.path().filename().string();
            fs::copy_file(entry.path(), copy, fs::copy_options::overwrite_existing);
            fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
            EXPECT_EQ(rewriteAndCompare(copy, written), "") << entry.path().filename();
        }
    EXPECT_GE(written, 8);
}

TEST(TreePreservation, GeneratedSidecarsKeepEverythingButTheirGps) {
    std::mt19937 random(20240501);
    auto pick = [&](std::vector<std::string> options) { return options[random() % options.size()]; };
    testing::TempDir dir;
    int written = 0;
    for (int i = 0; i < 300; ++i) {
        std::vector<std::string> parts = {
            "<tiff:Model>iPhone</tiff:Model>", "<exif:GPSAltitude>12/1</exif:GPSAltitude>",
            pick({"<!-- a comment -->", "<?app data?>", "<xmp:Label><![CDATA[<b>raw</b> & text]]></xmp:Label>"}),
            pick({"<dc:subject><rdf:Bag><rdf:li> </rdf:li><rdf:li>a &amp; b</rdf:li></rdf:Bag></dc:subject>",
                  "<dc:description>Some <b>bold</b> <i>x</i></dc:description>",
                  "<xmp:Note xml:space='preserve'>\n  <xmp:Inner> </xmp:Inner>\n</xmp:Note>", "<xmp:Empty>\n\t</xmp:Empty>"}),
            "<exif:GPSLatitude>" + pick({"41.125", "41,7.5N", "12.5N", "41.12500000 n", "bogus", ""}) + "</exif:GPSLatitude>",
            pick({"", "<exif:GPSLongitude>" + pick({"2.625", "2,37.5W", "7E"}) + "</exif:GPSLongitude>"}),
            pick({"", "<exif:GPSLatitudeRef>" + pick({"N", "S", "north"}) + "</exif:GPSLatitudeRef>"}),
            pick({"", "<exif:GPSLongitudeRef>" + pick({"W", "E", "West"}) + "</exif:GPSLongitudeRef>"})};
        std::shuffle(parts.begin(), parts.end(), random);
        std::string xml = pick({"", "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"}) +
                          "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                          "<rdf:Description rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/' xmlns:dc='dc'"
                          " xmlns:tiff='http://ns.adobe.com/tiff/1.0/' xmlns:xmp='http://ns.adobe.com/xap/1.0/'" +
                          pick({"", " exif:GPSSpeed='1.5' xmp:Rating='3'"}) + ">";
        for (const std::string& part : parts)
            xml += pick({"", "\n   "}) + part;
        const fs::path path = dir / ("generated-" + std::to_string(i) + ".xmp");
        testing::writeFile(path, xml + "</rdf:Description></rdf:RDF></x:xmpmeta>" + pick({"", "\n<?xpacket end='w'?>"}));
        EXPECT_EQ(rewriteAndCompare(path, written), "") << xml;
    }
    EXPECT_GT(written, 270);
}

}  // namespace
}  // namespace meridane::hardening
