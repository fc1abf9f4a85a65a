#include "sidecar/internal/AtomicSave.h"

#include "FakeFileSystem.h"
#include "SidecarFixtures.h"
#include "TestSupport.h"
#include "base/Diagnostics.h"
#include "sidecar/internal/XmpWriteQueue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <thread>

namespace meridane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::FakeFileSystem;
using testing::GPSProperties;
namespace fs = std::filesystem;

const std::string kOldSidecar = testing::sidecarWith({"48,51.5022N", "2,17.67E", "N", "E"});
const std::string kNewSidecar = testing::sidecarWith({"48.85837000N", "2.29450000E", "N", "E"});

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

xmp::XmlDocument parsed(const std::string& text) {
    auto document = xmp::XmlDocument::parse(text);
    if (!document)
        throw std::runtime_error(document.error().message);
    return std::move(document).value();
}

class AtomicSaveTest : public ::testing::Test {
protected:
    void SetUp() override { testing::writeFile(sidecar, kOldSidecar); }

    Status save(const std::string& text = kNewSidecar) {
        auto document = parsed(text);
        return saveXMPAtomically(document, sidecar);
    }

    testing::TempDir dir;
    fs::path sidecar = dir / "IMG_0001.xmp";
    fs::path temp = dir / ".IMG_0001.xmp.tmp";
};

TEST_F(AtomicSaveTest, TemporaryFileIsHiddenBesideTheSidecar) {
    EXPECT_EQ(temporaryFileFor("/photos/2024/IMG_0001.xmp"), fs::path("/photos/2024/.IMG_0001.xmp.tmp"));
}

TEST_F(AtomicSaveTest, SuccessLeavesThePrettyPrintedDocumentAndNoTemporaryFile) {
    ASSERT_TRUE(save());
    EXPECT_EQ(testing::readFile(sidecar), parsed(kNewSidecar).serializePretty());
    EXPECT_FALSE(fs::exists(temp));
}

TEST_F(AtomicSaveTest, SuccessWritesTheSaveLinesInOrder) {
    diag::LineCapture capture;
    ASSERT_TRUE(save());
    const auto size = std::to_string(parsed(kNewSidecar).serializePretty().size());
    EXPECT_THAT(testing::engineLines(capture),
                ElementsAre(StartsWith("[DEBUG] Disk space check passed: "),
                            "[DEBUG] File size validation passed: " + size + " bytes",
                            "[DEBUG] XML structure validation passed",
                            "[DEBUG] GPS data validation passed: lat=48.85837000N lon=2.29450000E latRef=N lonRef=E",
                            "[DEBUG] All temp file validations passed successfully",
                            "[DEBUG] Successfully saved XMP: IMG_0001.xmp"));
}

TEST_F(AtomicSaveTest, ReplacesTheSidecarWithOneRenameAfterFlushingTheTemporaryFile) {
    FakeFileSystem fake;
    sidecar::ScopedFileSystemOverride override(fake);
    ASSERT_TRUE(save());
    auto ops = fake.operations();
    ops.erase(std::remove(ops.begin(), ops.end(), "status"), ops.end());
    ops.erase(std::remove(ops.begin(), ops.end(), "read"), ops.end());
    // Never a removal of the sidecar itself: only the leftover temp name is cleared.
    // The folder is not flushed after the rename (see saveXMPAtomically).
    EXPECT_THAT(ops, ElementsAre("capacity", "remove", "create", "write", "setMode", "sync", "close", "rename"));
    EXPECT_EQ(fake.calls()[1].path, temp);
}

TEST_F(AtomicSaveTest, LeftoverTemporaryFileIsReplaced) {
    testing::writeFile(temp, "half a sidecar from a save that was interrupted");
    ASSERT_TRUE(save());
    EXPECT_EQ(testing::readFile(sidecar), parsed(kNewSidecar).serializePretty());
    EXPECT_FALSE(fs::exists(temp));
}

TEST_F(AtomicSaveTest, LeftoverTemporaryNameThatIsALinkIsRemovedNotFollowed) {
    testing::writeFile(dir / "elsewhere.txt", "precious");
    fs::create_symlink(dir / "elsewhere.txt", temp);
    ASSERT_TRUE(save());
    EXPECT_EQ(testing::readFile(dir / "elsewhere.txt"), "precious");
    EXPECT_EQ(testing::readFile(sidecar), parsed(kNewSidecar).serializePretty());
    EXPECT_FALSE(fs::exists(temp) || fs::is_symlink(temp));
}

TEST_F(AtomicSaveTest, LeftoverTemporaryNameThatIsAFolderFailsWithoutTouchingTheSidecar) {
    fs::create_directory(temp);
    testing::writeFile(temp / "keep", "x");
    const Status status = save();
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error(), (Error{ErrorDomain::fileSystem, EEXIST, "Could not create \u201C.IMG_0001.xmp.tmp\u201D: File exists"}));
    EXPECT_EQ(testing::readFile(sidecar), kOldSidecar);
    EXPECT_TRUE(fs::exists(temp / "keep"));
}

// --- free space ------------------------------------------------------------

struct CapacityCase {
    const char* name;
    Result<std::optional<std::uint64_t>> capacity;
    std::optional<Error> error;  ///< none: the save succeeds
    std::string line;
};

void PrintTo(const CapacityCase& c, std::ostream* os) { *os << c.name; }

class FreeSpace : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(FreeSpace, DecidesAndLogsAndLeavesTheSidecarAloneOnFailure) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, kOldSidecar);
    FakeFileSystem fake;
    fake.capacity = GetParam().capacity;
    sidecar::ScopedFileSystemOverride override(fake);
    diag::LineCapture capture;

    const Status status = saveXMPAtomically(parsed(kNewSidecar), sidecar);

    EXPECT_TRUE(capture.contains(GetParam().line)) << ::testing::PrintToString(capture.lines());
    if (!GetParam().error) {
        EXPECT_TRUE(status);
        return;
    }
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error(), *GetParam().error);
    EXPECT_EQ(testing::readFile(sidecar), kOldSidecar);
    EXPECT_THAT(fake.operations(), ElementsAre("capacity")) << "nothing may be written";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FreeSpace,
    ::testing::Values(
        CapacityCase{"Exactly100MB", std::optional<std::uint64_t>(104'857'600), std::nullopt,
                     "[DEBUG] Disk space check passed: 100MB available"},
        CapacityCase{"OneByteLess", std::optional<std::uint64_t>(104'857'599),
                     Error{ErrorDomain::diskSpace, kDiskSpaceInsufficient, "Insufficient disk space. Available: 99MB, Required: 100MB"},
                     "[DEBUG] Failed to check disk space: Error Domain=DiskSpace Code=1 \"Insufficient disk space. "
                     "Available: 99MB, Required: 100MB\""},
        CapacityCase{"NotReported", std::optional<std::uint64_t>(),
                     Error{ErrorDomain::diskSpace, kDiskSpaceInsufficient, "Insufficient disk space. Available: 0MB, Required: 100MB"},
                     "[DEBUG] Failed to check disk space: Error Domain=DiskSpace Code=1 \"Insufficient disk space. "
                     "Available: 0MB, Required: 100MB\""},
        CapacityCase{"QueryFails", sidecar::systemError(EIO),
                     Error{ErrorDomain::fileSystem, EIO,
                           "Could not determine the free space for \u201CIMG_0001.xmp\u201D: Input/output error"},
                     "[DEBUG] Failed to check disk space: Error Domain=FileSystem Code=5 \"Could not determine the "
                     "free space for \u201CIMG_0001.xmp\u201D: Input/output error\""}),
    [](const auto& info) { return std::string(info.param.name); });


// --- every way a save can fail leaves the sidecar as it was ---------------------

struct FailureCase {
    const char* name;
    std::function<void(FakeFileSystem&)> fault;
    Error error;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class SaveFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SaveFailure, ReportsTheErrorAndLeavesTheSidecarByteForByte) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, kOldSidecar);
    ::chmod(sidecar.c_str(), 0644);
    FakeFileSystem fake;
    GetParam().fault(fake);
    sidecar::ScopedFileSystemOverride override(fake);

    const Status status = saveXMPAtomically(parsed(kNewSidecar), sidecar);

    ASSERT_FALSE(status);
    EXPECT_EQ(status.error(), GetParam().error);
    EXPECT_EQ(testing::readFile(sidecar), kOldSidecar);
    EXPECT_EQ(modeOf(sidecar), 0644u);
}

std::function<void(FakeFileSystem&)> writes(std::string bytes) {
    return [bytes](FakeFileSystem& fake) { fake.replaceWrittenBytes = bytes; };
}

const std::string kPadding(200, ' ');

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveFailure,
    ::testing::Values(
        FailureCase{"DiskFull", [](FakeFileSystem& f) { f.capacity = std::optional<std::uint64_t>(1'048'576); },
                    Error{ErrorDomain::diskSpace, kDiskSpaceInsufficient, "Insufficient disk space. Available: 1MB, Required: 100MB"}},
        FailureCase{"CapacityQueryFails", [](FakeFileSystem& f) { f.capacity = sidecar::systemError(ENOSYS); },
                    Error{ErrorDomain::fileSystem, ENOSYS,
                          "Could not determine the free space for \u201CIMG_0001.xmp\u201D: Function not implemented"}},
        FailureCase{"TemporaryFileCannotBeCreated", [](FakeFileSystem& f) { f.createError = EACCES; },
                    Error{ErrorDomain::fileSystem, EACCES, "Could not create \u201C.IMG_0001.xmp.tmp\u201D: Permission denied"}},
        FailureCase{"DiskFillsUpHalfwayThroughTheWrite", [](FakeFileSystem& f) { f.failWriteAfter = 120; },
                    Error{ErrorDomain::fileSystem, ENOSPC,
                          "Could not write \u201C.IMG_0001.xmp.tmp\u201D: No space left on device"}},
        FailureCase{"FlushFails", [](FakeFileSystem& f) { f.syncError = EIO; },
                    Error{ErrorDomain::fileSystem, EIO, "Could not write \u201C.IMG_0001.xmp.tmp\u201D: Input/output error"}},
        FailureCase{"RenameFails", [](FakeFileSystem& f) { f.renameError = EXDEV; },
                    Error{ErrorDomain::fileSystem, EXDEV,
                          "Could not replace \u201CIMG_0001.xmp\u201D with \u201C.IMG_0001.xmp.tmp\u201D: "
                          "Invalid cross-device link"}},
        FailureCase{"Validation1TemporaryFileVanished", [](FakeFileSystem& f) { f.removeOnClose = true; },
                    Error{ErrorDomain::validation, kTempFileNotCreated, "Temp file was not created"}},
        FailureCase{"Validation2Empty", writes(""), Error{ErrorDomain::validation, kTempFileEmpty, "Temp file is empty"}},
        FailureCase{"Validation3TooSmall", writes(std::string(99, 'x')),
                    Error{ErrorDomain::validation, kTempFileTooSmall, "Temp file too small (99 bytes), likely corrupted"}},
        FailureCase{"Validation5NoDescription", writes(testing::sidecarWithoutDescription()),
                    Error{ErrorDomain::validation, kTempFileNoDescription, "Temp file missing required XMP structure (rdf:Description)"}},
        FailureCase{"Validation6NoLatitude", writes(testing::sidecarWith({std::nullopt, "2.29450000E", "N", "E"})),
                    Error{ErrorDomain::validation, kTempFileNoGPS, "Temp file missing expected GPS coordinates"}},
        FailureCase{"Validation7Unparseable", writes(testing::sidecarWith({"north-ish", "2.29450000E", "N", "E"})),
                    Error{ErrorDomain::validation, kTempFileUnparseableGPS, "Temp file contains unparseable GPS coordinates"}},
        FailureCase{"Validation8NoLatitudeRef",
                    writes(testing::sidecarWith({"48.85837000N", "2.29450000E", std::nullopt, "E"})),
                    Error{ErrorDomain::validation, kTempFileBadHemisphere, "Temp file contains invalid GPS hemisphere references"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SaveFailure, Validation4NotXmlLeavesTheSidecar) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, kOldSidecar);
    FakeFileSystem fake;
    fake.replaceWrittenBytes = "<x:xmpmeta><rdf:Description>" + kPadding;  // never closed
    sidecar::ScopedFileSystemOverride override(fake);

    const Status status = saveXMPAtomically(parsed(kNewSidecar), sidecar);

    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().domain, ErrorDomain::validation);
    EXPECT_EQ(status.error().code, 4);
    EXPECT_THAT(status.error().message, StartsWith("Temp file is not valid XML: "));
    EXPECT_GT(status.error().message.size(), std::string("Temp file is not valid XML: ").size());
    EXPECT_EQ(testing::readFile(sidecar), kOldSidecar);
}

TEST(SaveFailure, HalfWrittenTemporaryFileIsRemoved) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, kOldSidecar);
    FakeFileSystem fake;
    fake.failWriteAfter = 120;
    sidecar::ScopedFileSystemOverride override(fake);

    ASSERT_FALSE(saveXMPAtomically(parsed(kNewSidecar), sidecar));

    EXPECT_FALSE(fs::exists(dir / ".IMG_0001.xmp.tmp"));
}

TEST(SaveFailure, TemporaryFileThatFailedValidationStaysUntilTheNextSave) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, kOldSidecar);
    FakeFileSystem fake;
    fake.replaceWrittenBytes = testing::sidecarWithoutDescription();
    sidecar::ScopedFileSystemOverride override(fake);

    ASSERT_FALSE(saveXMPAtomically(parsed(kNewSidecar), sidecar));

    EXPECT_EQ(testing::readFile(dir / ".IMG_0001.xmp.tmp"), testing::sidecarWithoutDescription());
}

TEST(SaveFailure, FailedRenameKeepsTheSidecarInTheFolder) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, kOldSidecar);
    FakeFileSystem fake;
    fake.renameError = EIO;
    sidecar::ScopedFileSystemOverride override(fake);

    ASSERT_FALSE(saveXMPAtomically(parsed(kNewSidecar), sidecar));

    EXPECT_EQ(fake.operations().back(), "rename");
    for (const auto& call : fake.calls())
        EXPECT_FALSE(call.operation == "remove" && call.path == sidecar) << "the sidecar was removed";
    EXPECT_EQ(testing::readFile(sidecar), kOldSidecar);
}

TEST(SaveFailure, NextSaveClearsTheTemporaryFileAFailedOneLeft) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, kOldSidecar);
    {
        FakeFileSystem fake;
        fake.renameError = EIO;
        sidecar::ScopedFileSystemOverride override(fake);
        ASSERT_FALSE(saveXMPAtomically(parsed(kNewSidecar), sidecar));
    }
    ASSERT_TRUE(fs::exists(dir / ".IMG_0001.xmp.tmp"));

    ASSERT_TRUE(saveXMPAtomically(parsed(kNewSidecar), sidecar));

    EXPECT_FALSE(fs::exists(dir / ".IMG_0001.xmp.tmp"));
    EXPECT_EQ(testing::readFile(sidecar), parsed(kNewSidecar).serializePretty());
}

// --- permissions and links --------------------------------------------------------

struct ModeCase {
    const char* name;
    mode_t mode;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class PermissionBits : public ::testing::TestWithParam<ModeCase> {};

TEST_P(PermissionBits, AreKeptByTheReplacement) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, kOldSidecar);
    ASSERT_EQ(::chmod(sidecar.c_str(), GetParam().mode), 0);

    ASSERT_TRUE(saveXMPAtomically(parsed(kNewSidecar), sidecar));

    EXPECT_EQ(modeOf(sidecar), GetParam().mode);
    EXPECT_EQ(testing::readFile(sidecar), parsed(kNewSidecar).serializePretty());
}

INSTANTIATE_TEST_SUITE_P(Modes, PermissionBits,
                         ::testing::Values(ModeCase{"WorldReadable0644", 0644}, ModeCase{"Private0600", 0600},
                                           ModeCase{"GroupReadable0640", 0640}, ModeCase{"GroupWritable0664", 0664},
                                           ModeCase{"ReadOnly0444", 0444}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SymbolicLink, SaveGoesThroughTheLinkAndTheLinkStaysALink) {
    testing::TempDir dir;
    fs::create_directory(dir / "library");
    fs::create_directory(dir / "export");
    const fs::path target = dir / "library" / "IMG_0001.xmp";
    const fs::path link = dir / "export" / "IMG_0001.xmp";
    testing::writeFile(target, kOldSidecar);
    ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
    fs::create_symlink("../library/IMG_0001.xmp", link);

    ASSERT_TRUE(saveXMPAtomically(parsed(kNewSidecar), link));

    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), fs::path("../library/IMG_0001.xmp"));
    EXPECT_EQ(testing::readFile(target), parsed(kNewSidecar).serializePretty());
    EXPECT_EQ(modeOf(target), 0644u);
    EXPECT_FALSE(fs::exists(dir / "library" / ".IMG_0001.xmp.tmp"));
    EXPECT_FALSE(fs::exists(dir / "export" / ".IMG_0001.xmp.tmp"));
}

// --- validation of the temporary file --------------------------------------------

struct ValidationCase {
    const char* name;
    std::optional<std::string> contents;  ///< none: no file at all
    std::optional<Error> error;           ///< none: valid
};

void PrintTo(const ValidationCase& c, std::ostream* os) { *os << c.name; }

class Validation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(Validation, RunsTheChecksInOrder) {
    testing::TempDir dir;
    const fs::path temp = dir / ".IMG_0001.xmp.tmp";
    if (GetParam().contents)
        testing::writeFile(temp, *GetParam().contents);

    const Status status = validateTempFile(temp, 0);

    if (!GetParam().error) {
        EXPECT_TRUE(status) << status.error().message;
        return;
    }
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error(), *GetParam().error);
}

std::string sidecarOf(GPSProperties gps) { return testing::sidecarWith(gps); }

INSTANTIATE_TEST_SUITE_P(
    Checks, Validation,
    ::testing::Values(
        ValidationCase{"Valid", sidecarOf({"48.85837000N", "2.29450000E", "N", "E"}), std::nullopt},
        ValidationCase{"WordsAsReferences", sidecarOf({"48.85837000N", "2.29450000E", " north ", "EAST"}),
                       std::nullopt},
        ValidationCase{"SouthWest", sidecarOf({"33.5", "70.1", "S", "W"}), std::nullopt},
        ValidationCase{"NoFile", std::nullopt, Error{ErrorDomain::validation, kTempFileNotCreated, "Temp file was not created"}},
        ValidationCase{"Empty", "", Error{ErrorDomain::validation, kTempFileEmpty, "Temp file is empty"}},
        ValidationCase{"NinetyNineBytes", std::string(99, ' '),
                       Error{ErrorDomain::validation, kTempFileTooSmall, "Temp file too small (99 bytes), likely corrupted"}},
        ValidationCase{"OneByte", "<", Error{ErrorDomain::validation, kTempFileTooSmall, "Temp file too small (1 bytes), likely corrupted"}},
        ValidationCase{"NoDescription", testing::sidecarWithoutDescription(),
                       Error{ErrorDomain::validation, kTempFileNoDescription, "Temp file missing required XMP structure (rdf:Description)"}},
        ValidationCase{"NoLongitude", sidecarOf({"48.85837000N", std::nullopt, "N", "E"}),
                       Error{ErrorDomain::validation, kTempFileNoGPS, "Temp file missing expected GPS coordinates"}},
        ValidationCase{"NoCoordinatesAtAll", sidecarOf({std::nullopt, std::nullopt, "N", "E"}),
                       Error{ErrorDomain::validation, kTempFileNoGPS, "Temp file missing expected GPS coordinates"}},
        ValidationCase{"LongitudeUnparseable", sidecarOf({"48.85837000N", "2deg", "N", "E"}),
                       Error{ErrorDomain::validation, kTempFileUnparseableGPS, "Temp file contains unparseable GPS coordinates"}},
        ValidationCase{"EmptyLatitude", sidecarOf({"", "2.29450000E", "N", "E"}),
                       Error{ErrorDomain::validation, kTempFileUnparseableGPS, "Temp file contains unparseable GPS coordinates"}},
        ValidationCase{"NoLatitudeRefThoughTheTextHasItsLetter",
                       sidecarOf({"48.85837000N", "2.29450000E", std::nullopt, "E"}),
                       Error{ErrorDomain::validation, kTempFileBadHemisphere, "Temp file contains invalid GPS hemisphere references"}},
        ValidationCase{"LatitudeRefIsALongitudeLetter", sidecarOf({"48.85837000N", "2.29450000E", "E", "E"}),
                       Error{ErrorDomain::validation, kTempFileBadHemisphere, "Temp file contains invalid GPS hemisphere references"}},
        ValidationCase{"LongitudeRefIsALatitudeLetter", sidecarOf({"48.85837000N", "2.29450000E", "N", "S"}),
                       Error{ErrorDomain::validation, kTempFileBadHemisphere, "Temp file contains invalid GPS hemisphere references"}},
        ValidationCase{"RefIsNoHemisphere", sidecarOf({"48.85837000N", "2.29450000E", "X", "E"}),
                       Error{ErrorDomain::validation, kTempFileBadHemisphere, "Temp file contains invalid GPS hemisphere references"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Validation, HundredBytesPassTheSizeChecks) {
    testing::TempDir dir;
    const fs::path temp = dir / ".IMG_0001.xmp.tmp";
    testing::writeFile(temp, std::string(100, ' '));
    diag::LineCapture capture;

    const Status status = validateTempFile(temp, 0);

    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().code, 4) << "fails only at the XML check";
    EXPECT_TRUE(capture.contains("[DEBUG] File size validation passed: 100 bytes"));
}

TEST(Validation, NotXmlNamesTheParserError) {
    testing::TempDir dir;
    const fs::path temp = dir / ".IMG_0001.xmp.tmp";
    testing::writeFile(temp, "<x:xmpmeta>" + kPadding);

    const Status status = validateTempFile(temp, 0);

    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().domain, ErrorDomain::validation);
    EXPECT_EQ(status.error().code, 4);
    auto parserError = xmp::XmlDocument::parse("<x:xmpmeta>" + kPadding);
    ASSERT_FALSE(parserError);
    EXPECT_EQ(status.error().message, "Temp file is not valid XML: " + parserError.error().message);
}

TEST(Validation, PassingLogsTheGPSValuesAsReadAndTheNormalisedReferences) {
    testing::TempDir dir;
    const fs::path temp = dir / ".IMG_0001.xmp.tmp";
    testing::writeFile(temp, sidecarOf({" 48.85837000N ", "2.29450000E", "north", "E"}));
    diag::LineCapture capture;

    ASSERT_TRUE(validateTempFile(temp, 0));

    EXPECT_TRUE(capture.contains("[DEBUG] GPS data validation passed: lat=48.85837000N lon=2.29450000E latRef=N lonRef=E"));
    EXPECT_EQ(capture.lines().back(), "[DEBUG] All temp file validations passed successfully");
}

struct SizeChangeCase {
    const char* name;
    std::uint64_t previous;
    std::size_t size;
    std::optional<std::string> warning;
};

void PrintTo(const SizeChangeCase& c, std::ostream* os) { *os << c.name; }

class SizeChange : public ::testing::TestWithParam<SizeChangeCase> {};

TEST_P(SizeChange, WarnsOnlyAboveHalf) {
    testing::TempDir dir;
    const fs::path temp = dir / ".IMG_0001.xmp.tmp";
    testing::writeFile(temp, std::string(GetParam().size, ' '));
    diag::LineCapture capture;

    (void)validateTempFile(temp, GetParam().previous);

    std::vector<std::string> warnings;
    for (const auto& line : capture.lines())
        if (line.rfind("[DEBUG] Warning: ", 0) == 0)
            warnings.push_back(line);
    if (GetParam().warning)
        EXPECT_THAT(warnings, ElementsAre(*GetParam().warning));
    else
        EXPECT_THAT(warnings, ::testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, SizeChange,
    ::testing::Values(
        SizeChangeCase{"ExactlyHalfMore", 1000, 1500, std::nullopt},
        SizeChangeCase{"JustOverHalfMore", 1000, 1501,
                       "[DEBUG] Warning: Significant size change - Original: 1000 bytes, New: 1501 bytes (50% change)"},
        SizeChangeCase{"SixtyPercentLess", 1000, 400,
                       "[DEBUG] Warning: Significant size change - Original: 1000 bytes, New: 400 bytes (60% change)"},
        SizeChangeCase{"ExactlyHalfLess", 1000, 500, std::nullopt},
        SizeChangeCase{"Tripled", 1000, 3000,
                       "[DEBUG] Warning: Significant size change - Original: 1000 bytes, New: 3000 bytes (200% change)"},
        SizeChangeCase{"PreviousSizeUnknown", 0, 5000, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// --- one save at a time -------------------------------------------------------------

TEST(WriteQueue, ConcurrentSavesOfTwoFilesNeverOverlap) {
    testing::TempDir dir;
    constexpr int kFiles = 4;
    std::vector<fs::path> sidecars;
    for (int i = 0; i < kFiles; ++i) {
        fs::create_directory(dir / ("folder" + std::to_string(i)));
        sidecars.push_back(dir / ("folder" + std::to_string(i)) / "IMG_0001.xmp");
        testing::writeFile(sidecars.back(), kOldSidecar);
    }
    FakeFileSystem fake;
    fake.writeDelay = std::chrono::milliseconds(15);
    sidecar::ScopedFileSystemOverride override(fake);

    std::vector<std::thread> threads;
    std::vector<int> results(kFiles, -1);
    for (int i = 0; i < kFiles; ++i) {
        threads.emplace_back([&, i] {
            auto document = parsed(kNewSidecar);
            const Status status =
                XmpWriteQueue::shared().sync([&] { return saveXMPAtomically(document, sidecars[i]); });
            results[i] = status ? 1 : 0;
        });
    }
    for (auto& thread : threads)
        thread.join();

    EXPECT_THAT(results, ::testing::Each(1));
    EXPECT_EQ(fake.maxConcurrentSaves(), 1);
    // Each save's calls form one unbroken run, all of them on the worker.
    std::vector<fs::path> order;
    for (const auto& call : fake.calls()) {
        EXPECT_EQ(call.thread, XmpWriteQueue::shared().workerId()) << call.operation;
        const fs::path folder = call.operation == "capacity" ? call.path : call.path.parent_path();
        if (order.empty() || order.back() != folder)
            order.push_back(folder);
    }
    EXPECT_EQ(order.size(), static_cast<std::size_t>(kFiles));
    for (const auto& sidecar : sidecars)
        EXPECT_EQ(testing::readFile(sidecar), parsed(kNewSidecar).serializePretty());
}

}  // namespace
}  // namespace meridane
