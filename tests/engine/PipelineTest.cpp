// SPDX-License-Identifier: GPL-3.0-or-later
// One file end to end: real images and sidecars through reader, access, comparison, update and save.
#include "engine/internal/MediaFileProcessor.h"

#include "ResultPrinting.h"
#include "ImageBuilder.h"
#include "SidecarBuilder.h"
#include "TestSupport.h"
#include "base/Diagnostics.h"
#include "engine/ProcessingOptions.h"
#include "engine/internal/SidecarLookup.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace meridane {
namespace {

namespace fs = std::filesystem;
using R = ProcessingResult;
using testing::kCorrectXml;
using testing::kElsewhereXml;
using testing::kNeedsLettersXml;
using testing::readFile;
using testing::sidecarXml;
using testing::writeFile;

const std::string kDegreesMinutes = sidecarXml("37,46.494N", "122,25.164W", "N", "W");
const std::string kNoDescription = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><a>b</a></x:xmpmeta>";
const std::vector<std::string> kLetterChanges = {"exif:GPSLatitude: 37.7749 \u2192 37.77490000N",
                                                 "exif:GPSLongitude: 122.4194 \u2192 122.41940000W"};

std::vector<std::string> dryRun(std::vector<std::string> changes) {
    for (std::string& change : changes)
        change.insert(0, "[DRY RUN] would update: ");
    return changes;
}

class Pipeline : public ::testing::Test {
protected:
    Pipeline() : bookmarks_(dir_ / "settings.ini") {}

    // The real access, every request and stop counted; `during` runs once the
    // file has been taken up, as if another thread acted meanwhile.
    ProcessingResult process(const fs::path& file, std::function<void()> during = {}) {
        MediaFileProcessor processor([&](const fs::path& sidecar, SidecarUse use) -> Result<ScopedAccess> {
            ++requests_;
            if (during)
                during();
            auto access = requestSidecarAccess(sidecar, use, {});
            if (access)
                access->stop = [this, inner = access->stop] { ++stops_, inner(); };
            return access;
        });
        processor.setFolderListings(listings_);
        return processor.processFile(file);
    }

    testing::TempDir dir_;
    ScopedBookmarkSettings bookmarks_;
    ScopedProcessingOptions restore_{ProcessingOptionValues{}};
    diag::LineCapture capture_;
    FolderListings* listings_ = nullptr;
    int requests_ = 0;
    int stops_ = 0;
};

// Every option switched while the file runs: each file keeps the options it started with.
TEST_F(Pipeline, EveryOutcomeOfOneFile) {
    const ProcessingOptionValues dry{}, wet{.dryRun = false}, force{.dryRun = false, .alwaysOverwrite = true};
    using testing::cameraTiff;
    const auto apple = cameraTiff(), canon = cameraTiff("Canon", "Canon EOS R5", {});
    const auto anonymous = cameraTiff({}, {}, {}), noPosition = cameraTiff("Apple", "iPhone", {}, {});
    struct Case {
        const char* name;
        std::optional<testing::TiffImage> image;  // none: a file that is no image
        std::optional<std::string> sidecar;
        ProcessingOptionValues options;
        ProcessingResult expected;
        std::optional<std::string> written;  // a text the sidecar holds afterwards; none: untouched
    };
    const Case cases[] = {
        {"non-Apple", canon, kNeedsLettersXml, wet,
         R::skippedNonApple(DeviceData{"Canon", "Canon EOS R5", {}}, "Non-Apple source"), {}},
        {"no identity", anonymous, kNeedsLettersXml, wet, R::skippedNonApple(DeviceData{}, "Non-Apple source"), {}},
        {"non-Apple, filter off", canon, kCorrectXml, {.appleOnly = false}, R::alreadyCorrect(), {}},
        {"not an image", {}, kNeedsLettersXml, wet, R::failed("Cannot read image: not a HEIF, DNG or JPEG file"), {}},
        {"no position", noPosition, kNeedsLettersXml, wet, R::failed("No GPS available"), {}},
        {"no position, silent", noPosition, kNeedsLettersXml, {.silentlyIgnoreSkipped = true},
         R::skippedMissing("No GPS available"), {}},
        {"no sidecar", apple, {}, wet, R::skippedMissing("No XMP sidecar file"), {}},
        {"no GPS in sidecar", apple, sidecarXml(std::nullopt, std::nullopt), wet, R::skippedMissing("No GPS data in XMP sidecar"), {}},
        {"correct", apple, kCorrectXml, wet, R::alreadyCorrect(), {}},
        {"degrees and minutes", apple, kDegreesMinutes, wet,
         R::withinTolerance({"Latitude format: 37,46.494N \u2192 37.77490000N",
                             "Longitude format: 122,25.164W \u2192 122.41940000W"}), {}},
        {"elsewhere", apple, kElsewhereXml, wet,
         R::skippedDifferentGPS({{"Latitude", "48.85837000N", "37.77490000N"},
                                 {"Longitude", "2.29450000E", "122.41940000W"}}), {}},
        {"dry run", apple, kNeedsLettersXml, dry, R::updated(dryRun(kLetterChanges), true), {}},
        {"write run", apple, kNeedsLettersXml, wet, R::updated(kLetterChanges), "37.77490000N"},
        {"forced, nothing differs", apple, kCorrectXml, force, R::alreadyCorrect(), {}},
        {"forced over elsewhere", apple, kElsewhereXml, force,
         R::updated({"exif:GPSLatitude: 48.85837000N \u2192 37.77490000N",
                     "exif:GPSLongitude: 2.29450000E \u2192 122.41940000W", "exif:GPSLongitudeRef: E \u2192 W"}),
         "122.41940000W"},
        {"no description", apple, kNoDescription, wet, R::failed("Invalid XMP structure: missing rdf:Description"), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        processingOptions::set(c.options);
        const testing::TempDir folder;
        const fs::path image = folder / "IMG_0001.HEIC", sidecar = folder / "IMG_0001.xmp";
        writeFile(image, c.image ? testing::buildTiff(*c.image) : "no image");
        if (c.sidecar)
            writeFile(sidecar, *c.sidecar);
        const int requests = requests_, stops = stops_;
        const ProcessingOptionValues o = c.options, flipped{.dryRun = !o.dryRun, .alwaysOverwrite = !o.alwaysOverwrite,
                                                           .appleOnly = !o.appleOnly,
                                                           .silentlyIgnoreSkipped = !o.silentlyIgnoreSkipped};
        EXPECT_EQ(process(image, [&] { processingOptions::set(flipped); }), c.expected);
        EXPECT_EQ(stops_ - stops, requests_ - requests) << "every access is stopped exactly once";
        if (!c.sidecar)
            EXPECT_FALSE(fs::exists(sidecar)) << "a sidecar is never created";
        else if (!c.written)
            EXPECT_EQ(readFile(sidecar), *c.sidecar);
        else
            EXPECT_NE(readFile(sidecar).find(*c.written), std::string::npos);
        EXPECT_FALSE(fs::exists(folder / ".IMG_0001.xmp.tmp"));
    }
}

// MERIDANE_UPDATE_TRACES=1 rewrites the golden copies after a deliberate change of the diagnostics.
TEST_F(Pipeline, WholeFileTracesMatchTheirGoldenCopies) {
    const std::tuple<const char*, ProcessingOptionValues, std::string> cases[] = {
        {"write-update", {.dryRun = false}, kNeedsLettersXml},
        {"dry-within-tolerance", {}, kDegreesMinutes},
        {"different-place", {.dryRun = false}, kElsewhereXml},
        {"references-created", {.dryRun = false, .alwaysOverwrite = true}, sidecarXml("37.77N", "122.4194W")},
        {"longitude-differs", {}, sidecarXml("37.7749N", "122.4194", "north", std::nullopt)},
        {"no-gps-fallback", {}, sidecarXml(std::nullopt, std::nullopt)},
        {"no-description", {}, kNoDescription},
        {"degrees-minutes-seconds", {}, sidecarXml("37 deg 46' 29.64\" N", "122 DEG 25' 9.84\" W")}};
    for (const auto& [name, options, sidecar] : cases) {
        SCOPED_TRACE(name);
        processingOptions::set(options);
        testing::writePhoto(dir_ / "IMG_0001", sidecar);
        diag::LineCapture capture;
        process(dir_ / "IMG_0001.HEIC");
        std::string trace;
        for (std::string line : capture.lines()) {
            for (size_t at; (at = line.find(dir_.path().string())) != std::string::npos;)
                line.replace(at, dir_.path().string().size(), "<folder>");
            if (line.rfind("[DEBUG] Disk space check passed: ", 0) == 0)
                line = "[DEBUG] Disk space check passed: <n>MB available";
            trace += line + "\n";
        }
        const fs::path golden = testing::testDataDir() / "traces" / (std::string(name) + ".txt");
        if (qEnvironmentVariableIsSet("MERIDANE_UPDATE_TRACES"))
            writeFile(golden, trace);
        EXPECT_EQ(trace, readFile(golden));
    }
    writeFile(dir_ / "photo.PNG", "x");
    EXPECT_EQ(process(dir_ / "photo.PNG"), R::unsupportedFile("Unsupported extension: PNG"));
    EXPECT_EQ(capture_.lines().back(), "[DEBUG] photo.PNG unsupported extension PNG");
    writeFile(dir_ / "broken.heic", "no image");
    process(dir_ / "broken.heic");
    EXPECT_EQ(capture_.lines().back(), "[DEBUG] Failed: cannot read image broken.heic: not a HEIF, DNG or JPEG file");
}

// Never a verdict on its camera or position, whichever options are on.
TEST_F(Pipeline, AnImageThatCannotBeReadFailsWithTheReason) {
    using testing::buildHeif;
    testing::HeifFile heif;
    testing::addExif(heif, 2, testing::exifItemPayload(testing::buildTiff(testing::cameraTiff())), 1);
    const std::string heic = buildHeif(heif), dng = testing::buildTiff(testing::cameraTiff());
    testing::HeifFile damaged;  // the Exif item's TIFF header offset points far past its end
    testing::addExif(damaged, 2,
                     testing::bigEndian(0xFFFFFF00, 4) + std::string("Exif\0\0", 6) +
                         testing::buildTiff(testing::cameraTiff()), 1);
    ASSERT_EQ(::mkfifo((dir_ / "pipe.HEIC").c_str(), 0600), 0);
    fs::create_directory(dir_ / "folder.heic");
    const std::tuple<std::string, std::optional<std::string>, std::string> files[] = {
        {"empty.HEIC", "", "file is empty"},
        {"cut-in-exif.HEIC", heic.substr(0, heic.size() - 20), "file is truncated"},
        {"cut-in-meta.HEIC", heic.substr(0, 60), "file is truncated"},
        {"cut.DNG", dng.substr(0, 12), "file is truncated"},
        {"damaged-exif.HEIC", buildHeif(damaged), "Exif item's TIFF header offset 4294967040 points past its end"},
        {"vanished.HEIC", std::nullopt, "file not found"},
        {"pipe.HEIC", std::nullopt, "not a regular file"},
        {"folder.heic", std::nullopt, "it is a folder"}};
    for (const ProcessingOptionValues& options :
         {ProcessingOptionValues{}, ProcessingOptionValues{.appleOnly = false, .silentlyIgnoreSkipped = true}}) {
        processingOptions::set(options);
        for (const auto& [name, bytes, reason] : files) {
            if (bytes)
                writeFile(dir_ / name, *bytes);
            writeFile(dir_ / (fs::path(name).stem().string() + ".xmp"), kNeedsLettersXml);
            EXPECT_EQ(process(dir_ / name), R::failed("Cannot read image: " + reason)) << name;
        }
    }
    // The whole file is there: the same container reads.
    writeFile(dir_ / "whole.hif", heic);
    writeFile(dir_ / "whole.xmp", kCorrectXml);
    EXPECT_EQ(process(dir_ / "whole.hif"), R::alreadyCorrect());
}

TEST_F(Pipeline, SidecarPathReplacesTheLastExtensionWithLowerCaseXmp) {
    const std::pair<const char*, const char*> cases[] = {
        {"/p/IMG_0001.HEIC", "/p/IMG_0001.xmp"}, {"/p/trip.edited.dng", "/p/trip.edited.xmp"},
        {"IMG_1.heif", "IMG_1.xmp"},             {"/p/photo", "/p/photo.xmp"},
        {"/p/.HEIC", "/p/.HEIC.xmp"},            {"/p/photo.", "/p/photo.xmp"},
        {"/p/caf\xE9.HEIC", "/p/caf\xE9.xmp"},   {"/p.d/IMG", "/p.d/IMG.xmp"}};
    for (const auto& [image, sidecar] : cases)
        EXPECT_EQ(MediaFileProcessor::sidecarPath(image), fs::path(sidecar)) << image;
    EXPECT_EQ(MediaFileProcessor::sidecarPath("/p/IMG_0001.HEIC", SidecarNaming::full), fs::path("/p/IMG_0001.HEIC.xmp"));
    EXPECT_EQ(MediaFileProcessor::sidecarPath("/p/a.b.dng", SidecarNaming::full), fs::path("/p/a.b.dng.xmp"));
}

TEST_F(Pipeline, SidecarNamingAndNamesThatDifferOnlyInLetterCase) {
    const SidecarNaming stem = SidecarNaming::stem, full = SidecarNaming::full;
    const struct {
        SidecarNaming naming;
        std::vector<std::string> sidecars;
        ProcessingResult expected;
        std::string written;  // the sidecar that changes; empty: none
    } cases[] = {
        {stem, {"IMG_0001.xmp"}, R::updated(kLetterChanges), "IMG_0001.xmp"},
        {stem, {"IMG_0001.HEIC.xmp"}, R::skippedMissing("No XMP sidecar file"), ""},
        {full, {"IMG_0001.HEIC.xmp"}, R::updated(kLetterChanges), "IMG_0001.HEIC.xmp"},
        {full, {"IMG_0001.xmp"}, R::skippedMissing("No XMP sidecar file"), ""},
        {stem, {"IMG_0001.XMP"}, R::updated(kLetterChanges), "IMG_0001.XMP"},
        {full, {"img_0001.heic.Xmp"}, R::updated(kLetterChanges), "img_0001.heic.Xmp"},
        {stem, {"IMG_0001.xmp", "IMG_0001.XMP"}, R::updated(kLetterChanges), "IMG_0001.xmp"},
        {stem, {"img_0001.xmp", "IMG_0001.XMP"},
         R::failed("Several XMP sidecars differ only in letter case: IMG_0001.XMP, img_0001.xmp"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sidecars.front() + (c.naming == full ? " (full)" : " (stem)"));
        processingOptions::set({.dryRun = false, .sidecarNaming = c.naming});
        const testing::TempDir folder;
        writeFile(folder / "IMG_0001.HEIC", testing::buildTiff(testing::cameraTiff()));
        for (const std::string& name : c.sidecars)
            writeFile(folder / name, kNeedsLettersXml);
        EXPECT_EQ(process(folder / "IMG_0001.HEIC"), c.expected);
        for (const std::string& name : c.sidecars)
            EXPECT_EQ(readFile(folder / name) != kNeedsLettersXml, name == c.written) << name;
    }
    const std::vector<std::string> names = {"CAF\xC3\x89.XMP", "caf\xC3\xA9.xmp", "cafe.xmp", "caf\xC3\xA9.xmpx"};
    EXPECT_EQ(caseVariantsIn(names, "Caf\xC3\xA9.xmp"), (std::vector<std::string>{"CAF\xC3\x89.XMP", "caf\xC3\xA9.xmp"}));
    EXPECT_EQ(caseVariantsIn(names, "caf\xC3\xA9.xmp"), std::vector<std::string>{"CAF\xC3\x89.XMP"});
}

TEST_F(Pipeline, AFolderIsListedOncePerRunForNamesInOtherLetterCase) {
    const testing::TempDir other;
    FolderListings listings;
    listings_ = &listings;
    std::vector<ProcessingResult> results;
    writeFile(dir_ / "IMG_0002.XMP", kCorrectXml);
    for (const fs::path& image : {dir_ / "IMG_0000.HEIC", dir_ / "IMG_0001.HEIC", dir_ / "IMG_0002.HEIC", other / "IMG_0009.HEIC"}) {
        writeFile(image, testing::buildTiff(testing::cameraTiff()));
        results.push_back(process(image));
    }
    EXPECT_EQ(results, (std::vector<ProcessingResult>{R::skippedMissing("No XMP sidecar file"),
                                                      R::skippedMissing("No XMP sidecar file"), R::alreadyCorrect(),
                                                      R::skippedMissing("No XMP sidecar file")}));
    EXPECT_EQ(listings.listed(), 2u);
}

TEST_F(Pipeline, AWriteRunInAReadOnlyFolderFailsWithTheFolderAndLeavesTheSidecar) {
    testing::writePhoto(dir_ / "IMG_0001", kNeedsLettersXml);
    const fs::path folder = dir_.path();
    ScopedPathAccessCheck readOnly([folder](const fs::path& p, int mode) {
        errno = EROFS;
        return !(p == folder && mode == W_OK);
    });
    processingOptions::set({.dryRun = false});
    EXPECT_EQ(process(dir_ / "IMG_0001.HEIC"),
              R::failed("Cannot write to folder " + folder.string() + ": read-only file system"));
    EXPECT_EQ(readFile(dir_ / "IMG_0001.xmp"), kNeedsLettersXml);
    EXPECT_TRUE(capture_.contains("[DEBUG] Permission not granted for XMP sidecar: " + (folder / "IMG_0001.xmp").string()));
}

}  // namespace
}  // namespace meridane
