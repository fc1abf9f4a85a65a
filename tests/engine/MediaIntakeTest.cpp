#include "engine/MediaIntake.h"

#include "base/Diagnostics.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace meridane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

struct SupportCase {
    const char* name;
    const char* fileName;
    bool supported;
};

void PrintTo(const SupportCase& c, std::ostream* os) { *os << c.fileName; }

class IsSupportedMediaFile : public ::testing::TestWithParam<SupportCase> {};

TEST_P(IsSupportedMediaFile, DecidesByLowerCasedLastExtension) {
    diag::LineCapture capture;
    const SupportCase& c = GetParam();
    EXPECT_EQ(isSupportedMediaFile(fs::path("/photos") / c.fileName), c.supported);
    if (c.supported)
        EXPECT_TRUE(capture.lines().empty());
    else
        EXPECT_EQ(capture.lines(),
                  std::vector<std::string>{"[DEBUG] " + std::string(c.fileName) + " is not a supported media file"});
}

INSTANTIATE_TEST_SUITE_P(
    Names, IsSupportedMediaFile,
    ::testing::Values(SupportCase{"UpperHeic", "IMG_1.HEIC", true}, SupportCase{"LowerHeic", "img_1.heic", true},
                      SupportCase{"MixedHeif", "a.HeIf", true}, SupportCase{"Dng", "b.DNG", true},
                      SupportCase{"DoubleExtensionXmp", "IMG_1.heic.xmp", false},
                      SupportCase{"Jpeg", "IMG_1.jpg", false}, SupportCase{"NoExtension", "heic", false},
                      SupportCase{"HiddenNameOnly", ".HEIC", false}, SupportCase{"TrailingDot", "IMG_1.", false},
                      SupportCase{"NotUtf8", "caf\xE9.heic", true},
                      SupportCase{"NotUtf8Extension", "a.he\xEF" "c", false},
                      SupportCase{"FullWidthLetters", "a.\xEF\xBC\xA8\xEF\xBC\xA5\xEF\xBC\xA9\xEF\xBC\xA3", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PathExtension, IsTheTextAfterTheLastFullStopAsWritten) {
    EXPECT_EQ(pathExtension("/x/trip.edited.DNG"), "DNG");
    EXPECT_EQ(pathExtension("/x/photo.PNG"), "PNG");
    EXPECT_EQ(pathExtension("/x/README"), "");
    EXPECT_EQ(pathExtension("/x/.HEIC"), "");
}

class CollectMediaFiles : public ::testing::Test {
protected:
    void touch(const fs::path& relative) {
        fs::create_directories((dir_.path() / relative).parent_path());
        writeFile(dir_.path() / relative, "x");
    }
    std::vector<std::string> relativeNames(const std::vector<fs::path>& files) const {
        std::vector<std::string> names;
        for (const fs::path& f : files)
            names.push_back(f.lexically_relative(dir_.path()).string());
        return names;
    }
    TempDir dir_;
};

TEST_F(CollectMediaFiles, ReturnsSupportedFilesToAnyDepthAndLogsTheOthers) {
    touch("a.HEIC");
    touch("b.dng");
    touch("c.xmp");
    touch("d.jpg");
    touch("sub/e.heif");
    touch("sub/deeper/still/f.HEIC");
    diag::LineCapture capture;
    const auto files = collectMediaFiles(dir_.path());
    EXPECT_EQ(relativeNames(files),
              (std::vector<std::string>{"a.HEIC", "b.dng", "sub/deeper/still/f.HEIC", "sub/e.heif"}));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "[DEBUG] c.xmp is not a supported media file",
                                   "[DEBUG] d.jpg is not a supported media file",
                                   "[DEBUG] Enumerated 4 media files under " + dir_.path().string(),
                               }));
}

TEST_F(CollectMediaFiles, SkipsHiddenEntriesSilently) {
    touch(".hidden.heic");
    touch(".hiddenFolder/inside.heic");
    touch("visible.heic");
    diag::LineCapture capture;
    EXPECT_EQ(relativeNames(collectMediaFiles(dir_.path())), std::vector<std::string>{"visible.heic"});
    EXPECT_EQ(capture.lines().size(), 1u);
}

struct PackageCase {
    const char* name;
    const char* folder;
    bool entered;
};

void PrintTo(const PackageCase& c, std::ostream* os) { *os << c.folder; }

class PackageFolders : public CollectMediaFiles, public ::testing::WithParamInterface<PackageCase> {};

TEST_P(PackageFolders, AreNotEntered) {
    touch(std::string(GetParam().folder) + "/inside.heic");
    diag::LineCapture capture;
    const auto files = collectMediaFiles(dir_.path());
    EXPECT_EQ(files.size(), GetParam().entered ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Names, PackageFolders,
                         ::testing::Values(PackageCase{"App", "Viewer.app", false},
                                           PackageCase{"Bundle", "Thing.bundle", false},
                                           PackageCase{"Framework", "Kit.framework", false},
                                           PackageCase{"Plugin", "Filter.plugin", false},
                                           PackageCase{"PhotosLibrary", "Photos Library.photoslibrary", false},
                                           PackageCase{"UpperCase", "Photos.PHOTOSLIBRARY", false},
                                           PackageCase{"OrdinaryFolderWithDot", "2023.06 Trip", true},
                                           PackageCase{"PlainFolder", "Export", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CollectMediaFiles, SkipsSymbolicLinksSoLoopsEnd) {
    touch("real/a.heic");
    fs::create_directory_symlink(dir_.path(), dir_.path() / "real/loop");
    fs::create_symlink(dir_.path() / "real/a.heic", dir_.path() / "link.heic");
    diag::LineCapture capture;
    EXPECT_EQ(relativeNames(collectMediaFiles(dir_.path())), std::vector<std::string>{"real/a.heic"});
}

TEST_F(CollectMediaFiles, EmptyFolderGivesTheClosingLineWithZero) {
    diag::LineCapture capture;
    EXPECT_TRUE(collectMediaFiles(dir_.path()).empty());
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"[DEBUG] Enumerated 0 media files under " + dir_.path().string()});
}

TEST_F(CollectMediaFiles, FolderThatCannotBeOpenedGivesNothingAndNoLine) {
    diag::LineCapture capture;
    EXPECT_TRUE(collectMediaFiles(dir_.path() / "missing").empty());
    EXPECT_TRUE(collectMediaFiles(dir_.path() / "file.heic").empty());
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(CollectMediaFiles, UnreadableSubfolderIsPassedOver) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "the superuser reads every folder";
    touch("locked/a.heic");
    touch("b.heic");
    fs::permissions(dir_.path() / "locked", fs::perms::none);
    diag::LineCapture capture;
    EXPECT_EQ(relativeNames(collectMediaFiles(dir_.path())), std::vector<std::string>{"b.heic"});
}

TEST_F(CollectMediaFiles, KeepsNamesWithSpacesNewlinesAndNonUtf8Bytes) {
    touch("with space.heic");
    touch("new\nline.HEIC");
    touch("caf\xE9.dng");
    diag::LineCapture capture;
    const auto files = collectMediaFiles(dir_.path());
    ASSERT_EQ(files.size(), 3u);
    for (const fs::path& f : files)
        EXPECT_TRUE(fs::exists(f)) << f;
    EXPECT_TRUE(std::find(files.begin(), files.end(), dir_.path() / "caf\xE9.dng") != files.end());
}

TEST_F(CollectMediaFiles, SkipsFifosAndOtherNonRegularItems) {
    ASSERT_EQ(::mkfifo((dir_.path() / "pipe.heic").c_str(), 0600), 0);
    touch("a.heic");
    diag::LineCapture capture;
    EXPECT_EQ(relativeNames(collectMediaFiles(dir_.path())), std::vector<std::string>{"a.heic"});
}

}  // namespace
}  // namespace meridane
