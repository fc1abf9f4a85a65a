// Sidecars reached through symbolic links, written by the real program: the
// file the link points to is replaced, the link stays the same link, and the
// target keeps its permission bits. Nothing is left beside the link.
#include "HardeningSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr double kLatitude = -33.75;
constexpr double kLongitude = 151.25;

std::string oldSidecar() { return phoneSidecar("33.75000000", "151.25000000", "S", "E"); }

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

struct LinkCase {
    const char* name;
    /// Makes `link` point (directly or not) at `target`; both live under `root`.
    void (*make)(const fs::path& root, const fs::path& link, const fs::path& target);
    mode_t targetMode;
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class LinkedSidecar : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkedSidecar, TargetIsReplacedTheLinkStaysAndTheModeIsKept) {
    WorkDir work;
    const fs::path root = work / "library";
    const fs::path photos = root / "photos";
    const fs::path store = root / "sidecar-store";
    fs::create_directories(photos);
    fs::create_directories(store);
    writeGpsImage(photos / "IMG_0001.DNG", kLatitude, kLongitude);
    const fs::path target = store / "IMG_0001.xmp";
    writeBytes(target, oldSidecar());
    ::chmod(target.c_str(), GetParam().targetMode);
    const fs::path link = photos / "IMG_0001.xmp";
    GetParam().make(root, link, target);
    const Tree linksBefore = [&] {
        Tree links;
        for (auto& [name, entry] : snapshot(root))
            if (entry.type == 'l')
                links[name] = entry;
        return links;
    }();

    const RunResult run = runProcess({cliPath().string(), "--write", "--json", photos.string()});

    const auto rows = parseJsonRows(run.out);
    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << run.out << run.err;
    EXPECT_EQ(row->resultCase, "updated") << row->message;
    const Tree after = snapshot(root);
    for (const auto& [name, entry] : linksBefore) {
        ASSERT_TRUE(after.count(name)) << name << " was removed";
        EXPECT_EQ(after.at(name).type, 'l') << name << " is no longer a link";
        EXPECT_EQ(after.at(name).content, entry.content) << name << " points elsewhere";
    }
    EXPECT_THAT(readBytes(target), HasSubstr("<exif:GPSLatitude>33.75000000S</exif:GPSLatitude>"));
    EXPECT_THAT(readBytes(target), HasSubstr("<exif:GPSLongitude>151.25000000E</exif:GPSLongitude>"));
    EXPECT_EQ(modeOf(target), GetParam().targetMode);
    for (const auto& [name, entry] : after)
        EXPECT_FALSE(fs::path(name).filename().string().ends_with(".tmp")) << "left behind: " << name;
}

INSTANTIATE_TEST_SUITE_P(
    Links, LinkedSidecar,
    ::testing::Values(
        LinkCase{"Relative",
                 [](const fs::path&, const fs::path& link, const fs::path&) {
                     fs::create_symlink("../sidecar-store/IMG_0001.xmp", link);
                 },
                 0644},
        LinkCase{"Absolute",
                 [](const fs::path&, const fs::path& link, const fs::path& target) { fs::create_symlink(target, link); },
                 0600},
        LinkCase{"ChainOfTwo",
                 [](const fs::path& root, const fs::path& link, const fs::path&) {
                     fs::create_symlink("sidecar-store/IMG_0001.xmp", root / "middle.xmp");
                     fs::create_symlink("../middle.xmp", link);
                 },
                 0640},
        LinkCase{"ThroughALinkedFolder",
                 [](const fs::path& root, const fs::path& link, const fs::path&) {
                     fs::create_symlink("sidecar-store", root / "store-link");
                     fs::create_symlink("../store-link/IMG_0001.xmp", link);
                 },
                 0664},
        LinkCase{"ReadOnlyTarget",
                 [](const fs::path&, const fs::path& link, const fs::path&) {
                     fs::create_symlink("../sidecar-store/IMG_0001.xmp", link);
                 },
                 0444}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkedSidecar, LinkToAFolderIsNotASidecar) {
    WorkDir work;
    const fs::path photos = work / "photos";
    fs::create_directories(photos / "elsewhere");
    writeGpsImage(photos / "IMG_0001.DNG", kLatitude, kLongitude);
    fs::create_directory_symlink("elsewhere", photos / "IMG_0001.xmp");
    const Tree before = snapshot(work.path());

    const RunResult run = runProcess({cliPath().string(), "--write", "--json", photos.string()});

    auto row = rowFor(parseJsonRows(run.out), "IMG_0001.DNG");
    ASSERT_TRUE(row) << run.out << run.err;
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_EQ(row->message, "Could not read \u201CIMG_0001.xmp\u201D: Is a directory");
    EXPECT_EQ(differences(before, snapshot(work.path())), std::vector<std::string>{});
}

TEST(LinkedSidecar, LinkLoopFailsClearlyAndChangesNothing) {
    WorkDir work;
    const fs::path photos = work / "photos";
    fs::create_directories(photos);
    writeGpsImage(photos / "IMG_0001.DNG", kLatitude, kLongitude);
    fs::create_symlink("loop-b.xmp", photos / "IMG_0001.xmp");
    fs::create_symlink("IMG_0001.xmp", photos / "loop-b.xmp");
    const Tree before = snapshot(work.path());

    const RunResult run = runProcess({cliPath().string(), "--write", "--json", photos.string()});

    EXPECT_EQ(run.signal, 0);
    auto row = rowFor(parseJsonRows(run.out), "IMG_0001.DNG");
    ASSERT_TRUE(row) << run.out << run.err;
    // A loop is no file: the sidecar counts as missing, and nothing is made.
    EXPECT_TRUE(row->resultCase == "skippedMissing" || row->resultCase == "failed") << row->resultCase;
    EXPECT_EQ(differences(before, snapshot(work.path())), std::vector<std::string>{});
}

}  // namespace
}  // namespace meridane::hardening
