// SPDX-License-Identifier: GPL-3.0-or-later
// Which files are media files, and gathering them from folder trees.
#include "engine/MediaIntake.h"

#include "TestSupport.h"
#include "base/Diagnostics.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meridane {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

TEST(MediaIntake, SupportedByTheLowerCasedLastExtension) {
    const std::pair<const char*, bool> cases[] = {
        {"IMG_1.HEIC", true}, {"a.HeIf", true},         {"b.DNG", true},  {"caf\xE9.heic", true},
        {"IMG_1.heic.xmp", false}, {"IMG_1.jpg", false}, {"heic", false}, {".HEIC", false},
        {"IMG_1.", false},    {"a.he\xEF" "c", false}, {"a.\xEF\xBC\xA8\xEF\xBC\xA5\xEF\xBC\xA9\xEF\xBC\xA3", false}};
    for (const auto& [name, supported] : cases) {
        diag::LineCapture capture;
        EXPECT_EQ(isSupportedMediaFile(fs::path("/photos") / name), supported) << name;
        EXPECT_EQ(capture.lines(), supported ? Names{} : Names{"[DEBUG] " + std::string(name) + " is not a supported media file"});
    }
    EXPECT_EQ(pathExtension("/x/trip.edited.DNG"), "DNG");
    EXPECT_EQ(pathExtension("/x/.HEIC"), "");
}

class CollectMediaFiles : public ::testing::Test {
protected:
    void touch(const std::string& relative) {
        fs::create_directories((dir_ / relative).parent_path());
        testing::writeFile(dir_ / relative, "x");
    }
    Names collected() {
        Names names;
        for (const fs::path& f : collectMediaFiles(dir_.path()))
            names.push_back(f.lexically_relative(dir_.path()).string());
        return names;
    }
    testing::TempDir dir_;
    diag::LineCapture capture_;
};

TEST_F(CollectMediaFiles, FindsSupportedFilesToAnyDepthSortedAndLogsTheOthersAndZeroInAnEmptyFolder) {
    EXPECT_TRUE(collected().empty());
    for (const char* name : {"b.dng", "a.HEIC", "c.xmp", "d.jpg", "sub/e.heif", "sub/deeper/f.HEIC",
                             "with space.heic", "new\nline.HEIC", "caf\xE9.dng"})
        touch(name);
    EXPECT_EQ(collected(), (Names{"a.HEIC", "b.dng", "caf\xE9.dng", "new\nline.HEIC", "sub/deeper/f.HEIC",
                                  "sub/e.heif", "with space.heic"}));
    EXPECT_EQ(capture_.lines(), (Names{"[DEBUG] Enumerated 0 media files under " + dir_.path().string(),
                                       "[DEBUG] c.xmp is not a supported media file",
                                       "[DEBUG] d.jpg is not a supported media file",
                                       "[DEBUG] Enumerated 7 media files under " + dir_.path().string()}));
}

TEST_F(CollectMediaFiles, PassesOverHiddenEntriesPackagesLinksAndPipesSilently) {
    for (const char* name : {".hidden.heic", ".folder/a.heic", "Viewer.app/a.heic", "Kit.framework/a.heic",
                             "Photos.PHOTOSLIBRARY/a.heic", "Thing.bundle/a.heic", "2023.06 Trip/a.heic", "real/a.heic"})
        touch(name);
    fs::create_directory_symlink(dir_.path(), dir_ / "real/loop");
    fs::create_symlink(dir_ / "real/a.heic", dir_ / "link.heic");
    ASSERT_EQ(::mkfifo((dir_ / "pipe.heic").c_str(), 0600), 0);
    EXPECT_EQ(collected(), (Names{"2023.06 Trip/a.heic", "real/a.heic"}));
    EXPECT_EQ(capture_.lines().size(), 1u);
}

TEST_F(CollectMediaFiles, AFolderThatCannotBeOpenedSaysNothing) {
    touch("file.heic");
    EXPECT_TRUE(collectMediaFiles(dir_ / "missing").empty());
    EXPECT_TRUE(collectMediaFiles(dir_ / "file.heic").empty());
    EXPECT_TRUE(capture_.lines().empty());
}

TEST_F(CollectMediaFiles, GoesToTheBottomOfTwentyThousandNestedFoldersWithFewDescriptors) {
    constexpr int kDepth = 20'000;
    // On a tmpfs when there is one: on a disk 20,000 folders take seconds to make and remove.
    char shm[] = "/dev/shm/meridane-test-XXXXXX";
    const fs::path root = ::mkdtemp(shm) ? fs::path(shm) : dir_.path();
    std::vector<std::string> sideFolders(1'000, "d");
    sideFolders.push_back("e");  // beside the next "d"
    testing::makeNestedFolders(root, sideFolders, {{"side.HEIC", ""}});
    testing::makeNestedFolders(root, std::vector<std::string>(kDepth, "d"), {{"bottom.heic", ""}});
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 128;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<UnreadableFolder> unreadable;
    const std::vector<fs::path> found = collectMediaFiles(root, &unreadable);
    ::setrlimit(RLIMIT_NOFILE, &saved);

    const auto nested = [&](int depth) {
        std::string path = root.string();
        for (int level = 0; level < depth; ++level)
            path += "/d";
        return path;
    };
    EXPECT_EQ(found, (std::vector<fs::path>{nested(kDepth) + "/bottom.heic", nested(1'000) + "/e/side.HEIC"}));
    EXPECT_TRUE(unreadable.empty()) << unreadable.front().folder.native().size() << ": " << unreadable.front().reason;
    const fs::path made = root == dir_.path() ? root / "d" : root;
    const testing::RunResult removed = testing::runProcess({"/bin/rm", "-rf", made.string()});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
}

}  // namespace
}  // namespace meridane
