// SPDX-License-Identifier: GPL-3.0-or-later
// The comparison's decisions and the update's changes, as reported and on disk.
#include "SidecarTesting.h"

#include <gmock/gmock.h>

#include <sys/stat.h>

#include <tuple>

namespace meridane::testing {
namespace {
namespace fs = std::filesystem;
using Verdict = SidecarComparison::Verdict;
using ::testing::ElementsAreArray;
using Texts = std::vector<std::string>;

struct PrecheckCase {
    const char* name;
    std::string xml;
    bool alwaysOverwrite;
    Verdict verdict;
    Texts detail;  ///< format notes, or "field: current → new" of the differences
    CoordinateFormat format = CoordinateFormat::decimal;
};

TEST(Precheck, DecidesFromWhatTheSidecarSays) {
    const PrecheckCase cases[] = {
        {"exact", kCorrectXml, false, Verdict::alreadyCorrect, {}},
        {"other spelling", sidecarXml("37,46.494N", "122.4194W", "N", "W"), false, Verdict::withinTolerance,
         {"Latitude format: 37,46.494N \u2192 37.77490000N", "Longitude format: 122.4194W \u2192 122.41940000W"}},
        {"no letters", kNeedsLettersXml, false, Verdict::proceed, {}},
        {"exact, forced", kCorrectXml, true, Verdict::proceed, {}},
        {"elsewhere", kElsewhereXml, false, Verdict::differentPlace,
         {"Latitude: 48.85837000N \u2192 37.77490000N", "Longitude: 2.29450000E \u2192 122.41940000W"}},
        // What the file holds is quoted, never the image's value in its place.
        {"longitude missing", sidecarXml("37.7749N", std::nullopt), false, Verdict::differentPlace,
         {"Longitude: (empty) \u2192 122.41940000W"}},
        {"wrong hemisphere", sidecarXml("37.7749", "122.4194", "N", "E"), false, Verdict::differentPlace,
         {"Longitude: 122.4194 \u2192 122.41940000W"}},
        {"no GPS", sidecarXml(std::nullopt, std::nullopt), true, Verdict::noGPS, {}},
        {"not XML", "<x:xmpmeta", false, Verdict::proceed, {}},
        // The standard's form with seconds names the same place.
        {"seconds", sidecarXml("37,46,29.64N", "122,25,9.84W", "N", "W"), false, Verdict::withinTolerance,
         {"Latitude format: 37,46,29.64N \u2192 37.77490000N", "Longitude format: 122,25,9.84W \u2192 122.41940000W"}},
        // Under dm the degrees-and-minutes text is the correct one.
        {"dm", sidecarXml("37,46.494000N", "122,25.164000W", "N", "W"), false, Verdict::alreadyCorrect, {},
         CoordinateFormat::dm},
        {"dm, decimal text", kCorrectXml, false, Verdict::withinTolerance,
         {"Latitude format: 37.77490000N \u2192 37,46.494000N", "Longitude format: 122.41940000W \u2192 122,25.164000W"},
         CoordinateFormat::dm},
        // A struct or an array is not a coordinate: the update fails the row.
        {"struct", sidecarXml(std::nullopt, "122.4194W", "N", "W",
                              "   <exif:GPSLatitude rdf:parseType=\"Resource\"><tiff:a>1</tiff:a></exif:GPSLatitude>\n"),
         false, Verdict::proceed, {}},
        // A struct that holds GPS fields of its own is not the photo's position.
        {"location shown only", sidecarXml(std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                           "   <tiff:Shown rdf:parseType=\"Resource\"><exif:GPSLatitude>1N"
                                           "</exif:GPSLatitude></tiff:Shown>\n"),
         false, Verdict::noGPS, {}},
    };
    for (const PrecheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        SidecarFolder folder(c.xml);
        diag::ScopedSink quiet([](std::string_view) {});
        const SidecarComparison result =
            precheckSidecarGPS("IMG_0001.HEIC", kLat, kLon, folder.open(false), c.alwaysOverwrite, c.format);
        EXPECT_EQ(result.verdict, c.verdict);
        Texts detail = result.formatNotes;
        for (const GPSDifference& d : result.differences)
            detail.push_back(d.field + ": " + d.currentValue + " \u2192 " + d.newValue);
        EXPECT_EQ(detail, c.detail);
    }
    diag::ScopedSink quiet([](std::string_view) {});
    EXPECT_EQ(precheckSidecarGPS("a.HEIC", kLat, kLon, Error{ErrorDomain::fileSystem, EACCES, "x"}, false).verdict,
              Verdict::proceed);
}

TEST(Precheck, ToleranceIsPerCoordinateAndInclusive) {
    const std::tuple<double, double, const char*, const char*, bool> cases[] = {
        {0, 10, "0.0001N", "10.00000000E", true},          // exactly the tolerance away
        {45, 10, "45.0005N", "10.00000000E", false},       // five times the tolerance
        {45, 10, "45.00000000N", "11.00000000E", false},   // the latitude right, the longitude a degree off
        {45, 10, "45.00000000N", "10.0001E", true},
    };
    for (const auto& [lat, lon, latText, lonText, within] : cases) {
        SCOPED_TRACE(std::string(latText) + " " + lonText);
        SidecarFolder folder(sidecarXml(latText, lonText, "N", "E"));
        diag::ScopedSink quiet([](std::string_view) {});
        const auto result = precheckSidecarGPS("a.HEIC", lat, lon, folder.open(false), false);
        EXPECT_EQ(result.verdict == Verdict::differentPlace, !within);
    }
}

struct UpdateCase {
    const char* name;
    std::string xml;
    bool alwaysOverwrite;
    Texts changes;
    CoordinateFormat format = CoordinateFormat::decimal;
};

TEST(Update, ChangesWhatDiffersAndReportsItDryRunOrNot) {
    const UpdateCase cases[] = {
        {"nothing differs", kCorrectXml, false, {}},
        {"nothing differs, forced", kCorrectXml, true, {}},
        {"no GPS at all", sidecarXml(std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                     "   <exif:GPSAltitude>10/1</exif:GPSAltitude>\n"), true,
         {"exif:GPSLatitude: (empty) \u2192 37.77490000N", "exif:GPSLongitude: (empty) \u2192 122.41940000W",
          "exif:GPSLatitudeRef: (empty) \u2192 N", "exif:GPSLongitudeRef: (empty) \u2192 W"}},
        {"letters missing", kNeedsLettersXml, false,
         {"exif:GPSLatitude: 37.7749 \u2192 37.77490000N", "exif:GPSLongitude: 122.4194 \u2192 122.41940000W"}},
        {"lower-case letter kept", sidecarXml("37.77490000 n", "122.4194W", "north", "W"), true,
         {"exif:GPSLongitude: 122.4194W \u2192 122.41940000W"}},
        {"references only in the texts", sidecarXml("37.7750N", "122.4195W"), true,
         {"exif:GPSLatitude: 37.7750N \u2192 37.77490000N", "exif:GPSLongitude: 122.4195W \u2192 122.41940000W",
          "exif:GPSLatitudeRef: (empty) \u2192 N", "exif:GPSLongitudeRef: (empty) \u2192 W"}},
        // Attributes are changed where they stand.
        {"attributes", sidecarXml(std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                  "   <exif:GPSAltitude>10/1</exif:GPSAltitude>\n",
                                  " exif:GPSLatitude=\"48,51.5N\" exif:GPSLongitude=\"2,17.67E\""
                                  " exif:GPSLongitudeRef=\"E\""), true,
         {"exif:GPSLatitude: 48,51.5N \u2192 37.77490000N", "exif:GPSLongitude: 2,17.67E \u2192 122.41940000W",
          "exif:GPSLatitudeRef: (empty) \u2192 N", "exif:GPSLongitudeRef: E \u2192 W"}},
        {"dm", kNeedsLettersXml, false,
         {"exif:GPSLatitude: 37.7749 \u2192 37,46.494000N", "exif:GPSLongitude: 122.4194 \u2192 122,25.164000W"},
         CoordinateFormat::dm},
    };
    for (const UpdateCase& c : cases) {
        for (const bool dryRun : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (dryRun ? ", dry run" : ""));
            SidecarFolder folder(c.xml);
            const auto outcome = folder.update(dryRun, c.alwaysOverwrite, {}, c.format);
            ASSERT_TRUE(outcome) << outcome.error().message;
            EXPECT_EQ(outcome->written, !c.changes.empty());
            EXPECT_THAT(outcome->changes, ElementsAreArray(c.changes));
            const std::string after = readFile(folder.sidecar);
            if (dryRun || c.changes.empty()) {
                EXPECT_EQ(after, c.xml);
                continue;
            }
            const std::string lon = c.format == CoordinateFormat::dm ? "122,25.164000W" : kExpectedGps[1];
            EXPECT_EQ(gpsOf(after)[1], lon);
            EXPECT_EQ(after.find("48,51.5N"), std::string::npos);
            for (const char* name : {"GPSLatitude", "GPSLongitude", "GPSLatitudeRef", "GPSLongitudeRef"}) {
                const std::string attribute = std::string("exif:") + name + "=";
                const std::string tag =
                    after.find(attribute) != std::string::npos ? attribute : std::string("<exif:") + name + ">";
                EXPECT_EQ(after.find(tag), after.rfind(tag)) << name << " written twice:\n" << after;
            }
        }
    }
}

// Read at the limit, but not saved past it: a sidecar no read accepts could
// not be put back by an undo.
TEST(Update, ASidecarOfExactlySixteenMebibytesIsReadButNotGrownPastTheLimit) {
    // Comments in the description fill the file to the limit exactly.
    const size_t limit = 16 * 1024 * 1024;
    const size_t room = limit - kNeedsLettersXml.size();
    std::string filler;
    while (room - filler.size() > 1'000'000 + 16)
        filler += "<!--" + std::string(1'000'000, 'x') + "-->";
    filler += "<!--" + std::string(room - filler.size() - 7, 'x') + "-->";
    const std::string xml = sidecarXml("37.7749", "122.4194", "N", "W", filler);
    ASSERT_EQ(xml.size(), limit);
    SidecarFolder folder(xml);
    const auto outcome = folder.update(true);
    ASSERT_FALSE(outcome);
    EXPECT_THAT(outcome.error().message, ::testing::StartsWith("The updated XMP sidecar would be too large (16777"));
    EXPECT_EQ(readFile(folder.sidecar), xml);
}

TEST(Update, FailuresLeaveTheSidecarAsItWas) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        std::string message;  ///< its start
    };
    const Case cases[] = {
        {"missing", [](const fs::path& p) { fs::remove(p); }, "XMP file does not exist and creation is disabled"},
        {"dangling link", [](const fs::path& p) { fs::remove(p); fs::create_symlink("gone.xmp", p); },
         "XMP file does not exist and creation is disabled"},
        {"folder", [](const fs::path& p) { fs::remove(p); fs::create_directory(p); },
         "Could not read \u201CIMG_0001.xmp\u201D: Is a directory"},
        {"named pipe", [](const fs::path& p) { fs::remove(p); ::mkfifo(p.c_str(), 0644); },
         "Could not read \u201CIMG_0001.xmp\u201D: Not a regular file"},
        {"not XML", [](const fs::path& p) { writeFile(p, "<x:xmpmeta>"); }, "XML parse error at line 1: "},
        {"no description", [](const fs::path& p) { writeFile(p, "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>"); },
         "Invalid XMP structure: missing rdf:Description"},
        // Replacing one name of a file with two would separate them.
        {"hard link", [](const fs::path& p) { fs::create_hard_link(p, p.parent_path() / "copy.xmp"); },
         "XMP sidecar has 2 hard links; replacing it would separate them"},
        {"over 16 MiB", [](const fs::path& p) { fs::resize_file(p, 16 * 1024 * 1024 + 1); },
         "XMP sidecar is too large (16777217 bytes; the limit is 16 MiB)"},
        // A GPS property that is not a text, or one the file holds twice.
        {"struct", [](const fs::path& p) {
             writeFile(p, sidecarXml(std::nullopt, "1W", "N", "W", "   <exif:GPSLatitude><rdf:Seq><rdf:li>1</rdf:li>"
                                                                  "</rdf:Seq></exif:GPSLatitude>\n"));
         },
         "exif:GPSLatitude in the XMP sidecar is an array, not a text; the sidecar was left unchanged"},
        {"twice", [](const fs::path& p) {
             writeFile(p, sidecarXml("1N", "1W", "N", "W", "", " exif:GPSLongitude=\"2W\""));
         },
         "exif:GPSLongitude appears more than once"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SidecarFolder folder;
        c.make(folder.sidecar);
        const fs::file_status before = fs::symlink_status(folder.sidecar);
        const std::string bytes = fs::is_regular_file(before) ? readFile(folder.sidecar) : "";
        const auto outcome = folder.update();
        ASSERT_FALSE(outcome);
        EXPECT_THAT(outcome.error().message, ::testing::StartsWith(c.message));
        EXPECT_EQ(fs::symlink_status(folder.sidecar).type(), before.type());
        EXPECT_EQ(fs::is_regular_file(before) ? readFile(folder.sidecar) : "", bytes);
    }
}

}  // namespace
}  // namespace meridane::testing
