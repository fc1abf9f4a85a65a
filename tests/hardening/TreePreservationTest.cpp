// A rewrite changes the four GPS properties and nothing else: re-parsing the
// sidecar before and after gives the same tree (elements and their order,
// attributes, namespace declarations, comments, processing instructions such
// as the xpacket wrapper, text) once those four properties are set aside.
// The trees are read with libxml2 directly, not through the code under test,
// over every corpus sidecar and a few hundred generated ones.
#include "HardeningSupport.h"

#include "TestSupport.h"
#include "base/Diagnostics.h"
#include "LegacySidecarCalls.h"
#include "base/GPSText.h"
#include "sidecar/SidecarGPS.h"

#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <random>
#include <set>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;

const char* const kGpsNames[] = {"exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef",
                                 "exif:GPSLongitudeRef"};

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc parse(const std::string& bytes) {
    return Doc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

std::string text(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

std::string qualified(xmlNode* node) {
    std::string name = text(node->name);
    if (node->ns && node->ns->prefix)
        return text(node->ns->prefix) + ":" + name;
    return name;
}

std::string localName(const std::string& name) {
    const auto colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

bool isBlankText(xmlNode* node) { return node->type == XML_TEXT_NODE && xmlIsBlankNode(node); }

bool gpsNamed(const std::string& name) {
    return name.find("GPSLatitude") != std::string::npos || name.find("GPSLongitude") != std::string::npos;
}

// The element whose GPS properties the program reads and writes: the first
// (depth first, children before descent) with a GPS-named child element,
// otherwise the first whose name contains "Description".
xmlNode* gpsContainer(xmlNode* element) {
    for (xmlNode* c = element->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && gpsNamed(qualified(c)))
            return element;
    for (xmlNode* c = element->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE)
            if (xmlNode* found = gpsContainer(c))
                return found;
    return nullptr;
}

xmlNode* firstDescription(xmlNode* element) {
    if (qualified(element).find("Description") != std::string::npos)
        return element;
    for (xmlNode* c = element->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE)
            if (xmlNode* found = firstDescription(c))
                return found;
    return nullptr;
}

xmlNode* descriptionOf(xmlDoc* doc) {
    xmlNode* root = xmlDocGetRootElement(doc);
    if (!root)
        return nullptr;
    if (xmlNode* container = gpsContainer(root))
        return container;
    return firstDescription(root);
}

/// The four property elements of a container: for each name the first child
/// whose name equals it or its local name.
std::set<xmlNode*> gpsProperties(xmlNode* container) {
    std::set<xmlNode*> found;
    if (!container)
        return found;
    for (const char* wanted : kGpsNames) {
        for (xmlNode* c = container->children; c; c = c->next) {
            if (c->type != XML_ELEMENT_NODE)
                continue;
            const std::string name = qualified(c);
            if (name == wanted || name == localName(wanted)) {
                found.insert(c);
                break;
            }
        }
    }
    return found;
}

std::string valueOf(xmlNode* container, const char* wanted) {
    for (xmlNode* c : gpsProperties(container)) {
        const std::string name = qualified(c);
        if (name == wanted || name == localName(wanted)) {
            xmlChar* content = xmlNodeGetContent(c);
            std::string value = text(content);
            xmlFree(content);
            return value;
        }
    }
    return "(absent)";
}

/// One line per node, depth first, with everything a rewrite must keep.
void describe(xmlNode* node, int depth, const std::set<xmlNode*>& skipped, std::vector<std::string>& out) {
    for (xmlNode* n = node; n; n = n->next) {
        if (skipped.count(n) || isBlankText(n))
            continue;
        std::string line(static_cast<size_t>(depth) * 2, ' ');
        switch (n->type) {
        case XML_ELEMENT_NODE: {
            line += "<" + qualified(n) + " ns=" + (n->ns ? text(n->ns->href) : std::string("-"));
            for (xmlNs* ns = n->nsDef; ns; ns = ns->next)
                line += " xmlns:" + text(ns->prefix) + "=" + text(ns->href);
            for (xmlAttr* a = n->properties; a; a = a->next) {
                xmlChar* value = xmlNodeListGetString(n->doc, a->children, 1);
                line += " @" + (a->ns && a->ns->prefix ? text(a->ns->prefix) + ":" : "") + text(a->name) + "=" +
                        text(value);
                xmlFree(value);
            }
            out.push_back(line);
            describe(n->children, depth + 1, skipped, out);
            continue;
        }
        case XML_TEXT_NODE: line += "text " + text(n->content); break;
        case XML_CDATA_SECTION_NODE: line += "cdata " + text(n->content); break;
        case XML_COMMENT_NODE: line += "comment " + text(n->content); break;
        case XML_PI_NODE: line += "pi " + text(n->name) + " " + text(n->content); break;
        case XML_ENTITY_REF_NODE: line += "entity " + text(n->name); break;
        case XML_DTD_NODE: line += "dtd " + text(n->name); break;
        default: line += "node " + std::to_string(n->type); break;
        }
        out.push_back(line);
    }
}

std::vector<std::string> treeWithoutGps(xmlDoc* doc) {
    std::vector<std::string> lines;
    xmlNode* container = descriptionOf(doc);
    std::set<xmlNode*> skipped = gpsProperties(container);
    describe(doc->children, 0, skipped, lines);
    return lines;
}

std::string firstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i])
            return "line " + std::to_string(i) + ":\n  before: " + a[i].substr(0, 200) +
                   "\n  after:  " + b[i].substr(0, 200);
    return "lengths " + std::to_string(a.size()) + " and " + std::to_string(b.size());
}

struct Checked {
    bool written = false;
    std::string problem;  ///< empty when the rewrite kept everything it must
};

/// Rewrites one sidecar with a forced update to a fixed position and compares.
Checked rewriteAndCompare(const fs::path& sidecar, double latitude, double longitude) {
    Checked checked;
    const std::string before = readBytes(sidecar);
    std::optional<Result<SidecarUpdateOutcome>> outcome;
    {
        diag::ScopedSink quiet([](std::string_view) {});
        ScopedProcessingOptions options(ProcessingOptionValues{.dryRun = false, .alwaysOverwrite = true});
        outcome.emplace(testing::legacyUpdate(sidecar, latitude, longitude));
    }
    const std::string after = readBytes(sidecar);
    if (!*outcome || !(*outcome)->written) {
        if (after != before)
            checked.problem = "not written, yet the file changed";
        return checked;
    }
    checked.written = true;
    Doc oldDoc = parse(before);
    Doc newDoc = parse(after);
    if (!oldDoc || !newDoc) {
        checked.problem = oldDoc ? "the rewritten sidecar does not parse" : "the original does not parse with libxml2";
        return checked;
    }
    const auto oldTree = treeWithoutGps(oldDoc.get());
    const auto newTree = treeWithoutGps(newDoc.get());
    if (oldTree != newTree) {
        checked.problem = "tree changed beyond the GPS properties, " + firstDifference(oldTree, newTree);
        return checked;
    }
    xmlNode* container = descriptionOf(newDoc.get());
    const std::string lat = valueOf(container, "exif:GPSLatitude");
    const std::string lon = valueOf(container, "exif:GPSLongitude");
    const std::string latRef = valueOf(container, "exif:GPSLatitudeRef");
    const std::string lonRef = valueOf(container, "exif:GPSLongitudeRef");
    // A property that already said the same thing in another spelling
    // ("41.12500000 n", "north") is kept as it was written.
    if (gpstext::canonicalGPSText(lat) != "41.12500000N" || gpstext::canonicalGPSText(lon) != "2.62500000W" ||
        gpstext::normalizeHemisphereRef(latRef) != "N" || gpstext::normalizeHemisphereRef(lonRef) != "W")
        checked.problem = "GPS after the rewrite: " + lat + " " + lon + " " + latRef + " " + lonRef;
    return checked;
}

constexpr double kLatitude = 41.125;
constexpr double kLongitude = -2.625;

TEST(TreePreservation, EveryCorpusSidecarKeepsEverythingButItsGps) {
    const auto corpus = testing::corpusDir();
    if (!corpus)
        GTEST_SKIP() << "the shared corpus is not here";
    WorkDir work;
    int written = 0, files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(*corpus)) {
        if (entry.path().extension() != ".xmp")
            continue;
        ++files;
        const fs::path copy = work / entry.path().filename().string();
        fs::copy_file(entry.path(), copy);
        fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
        const Checked checked = rewriteAndCompare(copy, kLatitude, kLongitude);
        EXPECT_EQ(checked.problem, "") << entry.path().filename();
        written += checked.written;
    }
    std::cout << "[ preserve ] corpus: " << written << " of " << files << " sidecars rewritten and compared\n";
    // Sidecars without any GPS property are never written; all others are.
    EXPECT_GE(written, 8);
}

/// Random but valid sidecars: the GPS properties in any order and form, some
/// missing, among comments, processing instructions, CDATA, nested structures,
/// attributes, other namespaces and more than one description.
std::string generatedSidecar(std::mt19937& random) {
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    auto pick = [&](std::initializer_list<const char*> options) {
        return std::string(*(options.begin() + random() % options.size()));
    };
    std::string s;
    if (chance(50))
        s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (chance(70))
        s += "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
    if (chance(30))
        s += "<!-- before the root -->\n";
    s += "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"" + pick({"XMP Core 6.0.0", "Exiv2", "Image::ExifTool 12"}) +
         "\">";
    s += "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">";
    if (chance(40))
        s += "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
             "<dc:subject><rdf:Bag><rdf:li>one</rdf:li><rdf:li>two &amp; three</rdf:li></rdf:Bag></dc:subject>"
             "</rdf:Description>";
    s += "<rdf:Description rdf:about=\"\"";
    const bool exifOnDescription = chance(80);
    if (exifOnDescription)
        s += " xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"";
    s += " xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"";
    if (chance(50))
        s += " xmp:Rating=\"" + std::to_string(random() % 6) + "\" tiff:Make=\"Apple\"";
    s += ">";
    std::vector<std::string> parts = {"<tiff:Model>iPhone 1" + std::to_string(random() % 10) + "</tiff:Model>",
                                      "<xmp:CreateDate>2023-0" + std::to_string(1 + random() % 9) +
                                          "-01T12:00:00</xmp:CreateDate>"};
    if (chance(40))
        parts.push_back("<!-- a comment among the properties -->");
    if (chance(30))
        parts.push_back("<?app-specific data=\"1\"?>");
    if (chance(30))
        parts.push_back("<xmp:Label><![CDATA[<b>raw</b> & text]]></xmp:Label>");
    if (chance(30))
        parts.push_back("<exif:GPSAltitude" + std::string(exifOnDescription ? "" : " xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"") + ">1200/10</exif:GPSAltitude>");
    if (chance(20))
        parts.push_back("<xmp:Nested xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" rdf:parseType=\"Resource\">"
                        "<xmp:Inner>v</xmp:Inner></xmp:Nested>");
    const std::string exifNs = exifOnDescription ? "" : " xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"";
    // Latitude: always present (something GPS-named must be there to be written).
    parts.push_back("<exif:GPSLatitude" + exifNs + ">" +
                    pick({"41.125", "41,7.5N", "12.5N", "41.12500000 n", "bogus", ""}) + "</exif:GPSLatitude>");
    if (chance(80))
        parts.push_back("<exif:GPSLongitude" + exifNs + ">" + pick({"2.625", "2,37.5W", "2.62500000W", "7E"}) +
                        "</exif:GPSLongitude>");
    if (chance(60))
        parts.push_back("<exif:GPSLatitudeRef" + exifNs + ">" + pick({"N", "S", "north", ""}) +
                        "</exif:GPSLatitudeRef>");
    if (chance(60))
        parts.push_back("<exif:GPSLongitudeRef" + exifNs + ">" + pick({"W", "E", "West"}) + "</exif:GPSLongitudeRef>");
    std::shuffle(parts.begin(), parts.end(), random);
    for (const std::string& part : parts)
        s += (chance(50) ? "\n   " : "") + part;
    s += "</rdf:Description></rdf:RDF></x:xmpmeta>";
    if (chance(70))
        s += "\n<?xpacket end=\"w\"?>";
    return s;
}

TEST(TreePreservation, GeneratedSidecarsKeepEverythingButTheirGps) {
    std::mt19937 random(20240501);
    WorkDir work;
    int written = 0;
    constexpr int kSidecars = 300;
    for (int i = 0; i < kSidecars; ++i) {
        const std::string sidecar = generatedSidecar(random);
        const fs::path path = work / ("generated-" + std::to_string(i) + ".xmp");
        writeBytes(path, sidecar);
        const Checked checked = rewriteAndCompare(path, kLatitude, kLongitude);
        EXPECT_EQ(checked.problem, "") << "generated sidecar " << i << ":\n" << sidecar;
        written += checked.written;
    }
    std::cout << "[ preserve ] generated: " << written << " of " << kSidecars << " sidecars rewritten and compared\n";
    EXPECT_GT(written, kSidecars * 9 / 10);
}

}  // namespace
}  // namespace meridane::hardening
