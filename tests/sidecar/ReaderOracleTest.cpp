// SPDX-License-Identifier: GPL-3.0-or-later
// What ExifTool, Exiv2 and exempi make of the sidecars we write: one position,
// every other property and warning as before, no other byte changed.
#include "SidecarTesting.h"
#include "base/GPSText.h"
#include "base/UnicodeText.h"

#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

namespace meridane::testing {
namespace {
namespace fs = std::filesystem;

constexpr double kTargetLat = 30.58036667, kTargetLon = -88.07390556;

/// The program's path on PATH, or empty.
std::string toolPath(const std::string& name) {
    return QStandardPaths::findExecutable(QString::fromStdString(name)).toStdString();
}

bool haveReaders() { return !toolPath("exiftool").empty() && !toolPath("exiv2").empty() && !toolPath("exempi").empty(); }

/// Runs a tool found on PATH.
RunResult run(std::vector<std::string> argv) {
    argv.front() = toolPath(argv.front());
    return runProcess(argv);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool mentionsGps(const std::string& line) {
    return line.find("GPSLatitude") != std::string::npos || line.find("GPSLongitude") != std::string::npos;
}

/// What one reader makes of a sidecar.
struct Reading {
    bool read = false;                ///< the reader accepted the file
    std::vector<std::string> others;  ///< every line that is not about the position
    std::vector<std::string> warnings;
    std::optional<double> lat, lon;
};

// "[XMP-exif]      GPSLatitude                     : 30.58036667"
Reading exiftoolReading(const fs::path& file) {
    const RunResult result = run({"exiftool", "-s", "-n", "-a", "-G1", "-XMP:all", "-Warning", "-Error", file});
    Reading reading;
    reading.read = result.exitCode == 0;
    for (const std::string& line : linesOf(result.out + result.err)) {
        const auto colon = line.find(" : ");
        const std::string tag = colon == std::string::npos ? line : text::trimmed(line.substr(0, colon));
        const std::string value = colon == std::string::npos ? "" : line.substr(colon + 3);
        if (tag.ends_with(" Warning") || tag.ends_with(" Error"))
            reading.warnings.push_back(value);
        else if (tag.ends_with(" GPSLatitude"))
            reading.lat = gpstext::parseNumber(text::trimmed(value));
        else if (tag.ends_with(" GPSLongitude"))
            reading.lon = gpstext::parseNumber(text::trimmed(value));
        else if (!mentionsGps(line))
            reading.others.push_back(line);
    }
    return reading;
}

// Degrees from Exiv2's "30/1 34/1 49320/1000".
std::optional<double> rationalDegrees(const std::string& text) {
    std::istringstream in(text);
    double value = 0, scale = 1;
    std::string part;
    int parts = 0;
    while (in >> part) {
        const auto slash = part.find('/');
        if (slash == std::string::npos)
            return std::nullopt;
        const double n = std::stod(part.substr(0, slash)), d = std::stod(part.substr(slash + 1));
        if (d == 0)
            return std::nullopt;
        value += n / d / scale;
        scale *= 60;
        ++parts;
    }
    return parts == 3 ? std::optional<double>(value) : std::nullopt;
}

// The Xmp properties as Exiv2 lists them, and the position as it converts
// it to Exif (which it does for the XMP standard's forms only).
Reading exiv2Reading(const fs::path& file) {
    const RunResult xmp = run({"exiv2", "-PXkv", file});
    const RunResult exif = run({"exiv2", "-PEkv", file});
    Reading reading;
    reading.read = xmp.exitCode == 0 && xmp.err.find("rror") == std::string::npos;
    for (const std::string& line : linesOf(xmp.err + exif.err))
        if (!line.empty())
            reading.warnings.push_back(line);
    std::map<std::string, std::string> gps;  // "Exif.GPSInfo.GPSLatitude" -> "30/1 34/1 49320/1000"
    for (const std::string& line : linesOf(exif.out)) {
        const auto space = line.find(' ');
        gps[line.substr(0, space)] = space == std::string::npos ? "" : text::trimmed(line.substr(space));
    }
    const std::string key = "Exif.GPSInfo.GPS";
    reading.lat = gpstext::applyHemisphere(rationalDegrees(gps[key + "Latitude"]), gps[key + "LatitudeRef"]);
    reading.lon = gpstext::applyHemisphere(rationalDegrees(gps[key + "Longitude"]), gps[key + "LongitudeRef"]);
    for (const std::string& line : linesOf(xmp.out))
        if (!mentionsGps(line))
            reading.others.push_back(line);
    return reading;
}

// The toolkit's own serialisation of what it parsed.
Reading exempiReading(const fs::path& file) {
    const RunResult result = run({"exempi", "-X", "-x", file});
    Reading reading;
    reading.read = result.exitCode == 0 && result.out.find("<x:xmpmeta") != std::string::npos;
    if (!result.err.empty())
        reading.warnings.push_back(result.err);
    // The position as the toolkit re-serialised it: top-level properties only,
    // so a struct's GPS fields do not count.
    diag::ScopedSink quiet([](std::string_view) {});
    const std::string xml = result.out.substr(std::min(result.out.find("<x:xmpmeta"), result.out.size()));
    const auto parsed = xmp::XmpPacket::parse(xml);  // views `xml`
    auto coordinate = [&](const char* name, const char* refName) {
        if (!parsed)
            return std::optional<double>();
        const ParsedGPS gps = gpstext::parseXmpGPS(xmp::propertyText(name, parsed.value()));
        const auto ref = xmp::propertyText(refName, parsed.value());
        return gpstext::applyHemisphere(gps.value, gps.ref.empty() ? gpstext::normalizeHemisphereRef(ref) : gps.ref);
    };
    reading.lat = coordinate("exif:GPSLatitude", "exif:GPSLatitudeRef");
    reading.lon = coordinate("exif:GPSLongitude", "exif:GPSLongitudeRef");
    // Namespace declarations are not properties: a write may add one. The
    // only qualified values here are GPS properties'.
    for (const std::string& line : linesOf(result.out))
        if (!mentionsGps(line) && line.find("xmlns:") == std::string::npos && line.find("<rdf:value>") == std::string::npos)
            reading.others.push_back(line);
    return reading;
}

/// Sidecars made by hand for the shapes the corpus lacks.
std::vector<std::pair<std::string, std::string>> handMadeSidecars() {
    const std::string exif = "xmlns:exif='http://ns.adobe.com/exif/1.0/'", xmp = "xmlns:xmp='http://ns.adobe.com/xap/1.0/'";
    const std::string iptc = "xmlns:Iptc4xmpExt='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'";
    const std::string lat = "   <exif:GPSLatitude>48,51.5N</exif:GPSLatitude>\n";
    const std::string lon = "   <exif:GPSLongitude>2,17.67E</exif:GPSLongitude>\n";
    const auto shown = [](const std::string& fields) {
        return "   <Iptc4xmpExt:LocationShown>\n    <rdf:Bag>\n     <rdf:li rdf:parseType='Resource'>\n" + fields +
               "     </rdf:li>\n    </rdf:Bag>\n   </Iptc4xmpExt:LocationShown>\n";
    };
    // A packet of descriptions, each given by its attributes and its body.
    const auto rdf = [](std::initializer_list<std::pair<std::string, std::string>> descriptions) {
        std::string xml = "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n <rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n";
        for (const auto& [attributes, body] : descriptions)
            xml += "  <rdf:Description rdf:about='' " + attributes +
                   (body.empty() ? "/>\n" : ">\n" + body + "  </rdf:Description>\n");
        return xml + " </rdf:RDF>\n</x:xmpmeta>\n";
    };
    return {
        {"photo-library.xmp", sidecarXml("30.58036667", "88.07390556", "N", "W")},
        {"other-prefix.xmp", rdf({{"xmlns:ex='http://ns.adobe.com/exif/1.0/' " + xmp +
                                       " xmp:Rating='2' ex:GPSLatitude='48,51.5N' ex:GPSLongitude='2,17.67E'", ""}})},
        {"exif-prefix-elsewhere.xmp",
         rdf({{"xmlns:exif='urn:example:other' exif:GPSLatitude='12.5N'", "   <exif:Label>kept</exif:Label>\n"}})},
        {"second-description.xmp", rdf({{exif, lat}, {exif + " " + xmp, "   <xmp:Label>x</xmp:Label>\n" + lon}})},
        {"location-shown.xmp",
         rdf({{exif + " " + iptc, shown("      <exif:GPSLatitude>10,0.0N</exif:GPSLatitude>\n"
                                        "      <exif:GPSLongitude>20,0.0E</exif:GPSLongitude>\n") + lat + lon}})},
        // As ExifTool writes one: the struct's description comes first.
        {"location-shown-first.xmp",
         rdf({{iptc, shown("      <exif:GPSLatitude " + exif + ">10,0.0N</exif:GPSLatitude>\n")}, {exif, lat}})},
        {"qualified.xmp", rdf({{exif + " " + xmp, "   <exif:GPSLatitude rdf:parseType='Resource'>\n    <rdf:value>48,51.5N"
                                                  "</rdf:value>\n    <xmp:Label>from the phone</xmp:Label>\n"
                                                  "   </exif:GPSLatitude>\n" + lon}})},
        {"seconds.xmp", sidecarXml("30,34,49.32N", "88,4,26.06W")},
        {"crlf-single-quotes.xmp",
         "<?xml version='1.0' encoding='UTF-8'?>\r\n<x:xmpmeta xmlns:x='adobe:ns:meta/'>\r\n<rdf:RDF "
         "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\r\n<rdf:Description rdf:about='' " + exif + " " + xmp +
             "\r\n   xmp:Rating='5'\r\n   exif:GPSLatitude='1,0.0N'/>\r\n</rdf:RDF>\r\n</x:xmpmeta>\r\n"},
        {"padded-bom-comments.xmp",
         "\xEF\xBB\xBF<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n<!-- before -->\n" +
             rdf({{exif + " " + xmp, "   <!-- a comment -->\n   <xmp:Label><![CDATA[<b>raw</b> & text]]></xmp:Label>\n"
                                     "   <xmp:Nickname>a &amp; b &#x263A; &lt;c&gt;</xmp:Nickname>\n"
                                     "   <exif:GPSLatitude/>\n   <?app data?>\n"}}) +
             std::string(2048, ' ') + "\n<?xpacket end='w'?>"},
    };
}

/// Every sidecar the tests judge: the corpus's, ones ExifTool and Exiv2 make
/// from corpus photos, and the hand-made ones, copied into `dir`.
std::vector<fs::path> sidecarsIn(const fs::path& dir, bool withGenerated) {
    std::vector<fs::path> files;
    for (const auto& [name, xml] : handMadeSidecars()) {
        writeFile(dir / name, xml);
        files.push_back(dir / name);
    }
    const auto corpus = corpusDir();
    if (!corpus) {
        std::cout << "corpus not present (../shared/corpus): hand-made and generated sidecars only\n";
        return files;
    }
    for (const char* folder : {"xmp", "heic", "dng", "odd"})
        for (const auto& entry : fs::directory_iterator(*corpus / folder))
            if (entry.path().extension() == ".xmp") {
                const fs::path copy = dir / ("corpus-" + entry.path().filename().string());
                fs::copy_file(entry.path(), copy, fs::copy_options::overwrite_existing);
                fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
                files.push_back(copy);
            }
    if (!withGenerated)
        return files;
    for (const char* photo : {"exiv2__2021-02-13-1929.heic", "libvips__heic-orientation-6.heic"}) {
        const fs::path image = *corpus / "heic" / photo;
        const fs::path byExiftool = dir / (std::string("exiftool-") + photo + ".xmp");
        if (run({"exiftool", "-q", "-o", byExiftool, image}).exitCode == 0)
            files.push_back(byExiftool);
        const fs::path local = dir / (std::string("exiv2-") + photo);
        fs::copy_file(image, local, fs::copy_options::overwrite_existing);
        if (run({"exiv2", "-q", "-eX", local}).exitCode == 0 && fs::exists(fs::path(local).replace_extension(".xmp")))
            files.push_back(fs::path(local).replace_extension(".xmp"));
    }
    return files;
}

Result<SidecarUpdateOutcome> writeGPS(const fs::path& file, CoordinateFormat format, bool alwaysOverwrite = true) {
    diag::ScopedSink quiet([](std::string_view) {});
    auto sidecar = SidecarFile::open(file, {.forSaving = true});
    return updateSidecarGPS(sidecar, kTargetLat, kTargetLon,
                            {.dryRun = false, .alwaysOverwrite = alwaysOverwrite, .beforeReplace = {}, .log = nullptr,
                             .coordinateFormat = format});
}

bool isExifConversionWarning(const std::string& warning) {
    return warning.find("Failed to convert Xmp.exif.GPSL") != std::string::npos;
}

TEST(Readers, SeeOnePositionAndEverythingElseAsBefore) {
    if (!haveReaders())
        GTEST_SKIP() << "exiftool, exiv2 or exempi is not installed (scripts/setup.sh installs them)";
    TempDir dir;
    int judged = 0;
    using ReaderFn = Reading (*)(const fs::path&);
    const std::pair<const char*, ReaderFn> readers[] = {
        {"exiftool", &exiftoolReading}, {"exiv2", &exiv2Reading}, {"exempi", &exempiReading}};
    for (const fs::path& original : sidecarsIn(dir.path(), true)) {
        const fs::path file = dir / ("judged-" + original.filename().string());
        fs::copy_file(original, file, fs::copy_options::overwrite_existing);
        std::vector<Reading> before;
        for (const auto& [name, read] : readers)
            before.push_back(read(file));
        for (const CoordinateFormat format : {CoordinateFormat::decimal, CoordinateFormat::dm}) {
            const bool dm = format == CoordinateFormat::dm;
            SCOPED_TRACE(original.filename().string() + (dm ? " (dm)" : " (decimal)"));
            fs::copy_file(original, file, fs::copy_options::overwrite_existing);
            const std::string bytes = readFile(file);
            const auto outcome = writeGPS(file, format);
            if (!outcome || !outcome->written) {
                EXPECT_EQ(readFile(file), bytes) << "not written, yet changed";
                continue;
            }
            const bool readable = std::all_of(before.begin(), before.end(), [](const Reading& r) { return r.read; });
            for (size_t i = 0; i < std::size(readers); ++i) {
                const auto& [name, read] = readers[i];
                SCOPED_TRACE(name);
                const Reading after = read(file);
                EXPECT_TRUE(after.read || !before[i].read) << readFile(file);
                if (!readable)
                    continue;  // a file a reader refused before proves nothing here
                EXPECT_EQ(after.others, before[i].others) << readFile(file);
                bool exiv2CouldNotConvert = false;
                for (const std::string& warning : after.warnings) {
                    const bool expected = !dm && std::string(name) == "exiv2" && isExifConversionWarning(warning);
                    EXPECT_TRUE(expected || std::ranges::count(before[i].warnings, warning) > 0)
                        << "new warning: " << warning;
                    exiv2CouldNotConvert = exiv2CouldNotConvert || isExifConversionWarning(warning);
                }
                // Exiv2 converts only the standard's forms to a position, and
                // none in a file whose "exif" prefix names another namespace.
                if (std::string(name) == "exiv2" && (!dm || exiv2CouldNotConvert))
                    continue;
                EXPECT_NEAR(after.lat.value_or(NAN), kTargetLat, 1e-6) << readFile(file);
                EXPECT_NEAR(after.lon.value_or(NAN), kTargetLon, 1e-6) << readFile(file);
            }
            judged += readable ? 1 : 0;
        }
    }
    EXPECT_GE(judged, corpusDir() ? 30 : 10);
}

/// The places a write may change: the GPS values that exist and the points
/// where the chosen description takes new properties.
std::vector<std::pair<size_t, size_t>> changeableSpans(const xmp::XmpPacket& packet) {
    std::vector<std::pair<size_t, size_t>> spans;
    diag::ScopedSink quiet([](std::string_view) {});
    for (const char* name : {"exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef", "exif:GPSLongitudeRef"})
        if (const xmp::Property* property = xmp::findProperty(name, packet))
            spans.emplace_back(property->value.span.begin, property->value.span.end);
    if (const xmp::Description* description = xmp::findDescriptionElement(packet)) {
        // After the description's last attribute (new attributes and
        // declarations), and after its last property element.
        const std::string_view tag = packet.view(description->startTag);
        const size_t lastQuote = tag.find_last_of("\"'");
        spans.emplace_back(description->startTag.begin + lastQuote + 1, description->startTag.begin + lastQuote + 1);
        if (description->elementCount > 0)
            spans.emplace_back(description->lastElement.end, description->lastElement.end);
    }
    std::sort(spans.begin(), spans.end());
    return spans;
}

/// Empty when `after` is `before` with only the changeable spans replaced.
std::string bytesOutsideSpansDiffer(std::string_view before, std::string_view after,
                                    const std::vector<std::pair<size_t, size_t>>& spans) {
    size_t from = 0, at = 0;
    for (const auto& [begin, end] : spans) {
        const std::string_view kept = before.substr(from, begin - from);
        const size_t found = after.find(kept, at);
        if (found == std::string_view::npos || (from == 0 && found != 0))
            return "bytes " + std::to_string(from) + ".." + std::to_string(begin) + " changed";
        at = found + kept.size();
        from = end;
    }
    const std::string_view tail = before.substr(from);
    if (!after.ends_with(tail) || after.size() - tail.size() < at)
        return "bytes from " + std::to_string(from) + " changed";
    return {};
}

/// Sidecars of shuffled parts: comments, instructions, CDATA, mixed and
/// preserved text, GPS values good and bad, with and without a packet wrapper.
std::vector<fs::path> generatedSidecars(const fs::path& dir, int count) {
    std::mt19937 random(20240501);
    auto pick = [&](std::vector<std::string> options) { return options[random() % options.size()]; };
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
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
        files.push_back(dir / ("generated-" + std::to_string(i) + ".xmp"));
        writeFile(files.back(), xml + "</rdf:Description></rdf:RDF></x:xmpmeta>" + pick({"", "\n<?xpacket end='w'?>"}));
    }
    return files;
}

TEST(Readers, AWriteChangesNoByteOutsideTheValuesItChanges) {
    TempDir dir;
    int written = 0;
    std::vector<fs::path> files = sidecarsIn(dir.path(), false);
    const std::vector<fs::path> generated = generatedSidecars(dir.path(), 300);
    files.insert(files.end(), generated.begin(), generated.end());
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string bytes = readFile(file);
        const auto packet = xmp::XmpPacket::parse(bytes);
        const auto outcome = writeGPS(file, CoordinateFormat::dm);
        if (!outcome || !outcome->written) {
            EXPECT_TRUE(file.filename().string().starts_with("corpus-"))
                << "every sidecar made here takes a write: " << (outcome ? "nothing written" : outcome.error().message);
            EXPECT_EQ(readFile(file), bytes);
            continue;
        }
        ++written;
        ASSERT_TRUE(packet);
        const std::string after = readFile(file);
        EXPECT_EQ(bytesOutsideSpansDiffer(packet->text(), after, changeableSpans(packet.value())), "")
            << "before:\n" << packet->text() << "\nafter:\n" << after;
        EXPECT_EQ(gpsOf(after)[0], "30,34.822000N");
        EXPECT_EQ(gpsOf(after)[1], "88,4.434334W");
        // Each value is quoted once, as readers want it.
        EXPECT_EQ(after.find("30,34.822000N"), after.rfind("30,34.822000N"));
    }
    EXPECT_GE(written, corpusDir() ? 325 : 308);
}

TEST(Readers, ASidecarOtherProgramsRewroteStaysCorrect) {
    if (!haveReaders())
        GTEST_SKIP() << "exiftool, exiv2 or exempi is not installed (scripts/setup.sh installs them)";
    TempDir dir;
    const std::vector<std::vector<std::string>> rewriters = {
        {"exiftool", "-q", "-overwrite_original", "-XMP-xmp:Rating=3"},
        {"exiv2", "-M", "set Xmp.xmp.Rating 4"},
    };
    for (const CoordinateFormat format : {CoordinateFormat::decimal, CoordinateFormat::dm}) {
        for (const auto& rewriter : rewriters) {
            SCOPED_TRACE(rewriter.front() + (format == CoordinateFormat::dm ? " (dm)" : " (decimal)"));
            const fs::path file = dir / "IMG_0001.xmp";
            writeFile(file, sidecarXml("48,51.5N", "2,17.67E", "N", "E"));
            ASSERT_TRUE(writeGPS(file, format));
            std::vector<std::string> argv = rewriter;
            argv.push_back(file);
            ASSERT_EQ(run(argv).exitCode, 0);
            const std::string rewritten = readFile(file);
            ASSERT_NE(rewritten.find("Rating"), std::string::npos);

            diag::ScopedSink quiet([](std::string_view) {});
            const auto comparison =
                precheckSidecarGPS("IMG_0001.HEIC", kTargetLat, kTargetLon,
                                   SidecarFile::open(file, {.forSaving = false}), false, format);
            EXPECT_EQ(comparison.verdict, SidecarComparison::Verdict::alreadyCorrect) << rewritten;
            const auto outcome = writeGPS(file, format, false);
            ASSERT_TRUE(outcome);
            EXPECT_FALSE(outcome->written);
            EXPECT_EQ(readFile(file), rewritten);
        }
    }
}

}  // namespace
}  // namespace meridane::testing
