#include "access/SidecarAccess.h"

#include "base/Diagnostics.h"
#include "TestSupport.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <unistd.h>

namespace meridane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

struct FakePrompt {
    std::optional<fs::path> operator()(const fs::path& folder) {
        asked.push_back(folder);
        return answer;
    }
    std::optional<fs::path> answer;
    std::vector<fs::path> asked;
};

class SidecarAccessTest : public ::testing::Test {
protected:
    SidecarAccessTest() : settings_(dir_ / "settings.ini") {
        fs::create_directories(dir_ / "photos");
        writeFile(sidecar_, "<x/>");
    }

    // Makes the given paths fail the given permission, whoever runs the test.
    ScopedPathAccessCheck deny(std::vector<std::pair<fs::path, int>> denied) {
        return ScopedPathAccessCheck([denied](const fs::path& path, int mode) {
            for (const auto& [p, m] : denied)
                if (p == path && m == mode)
                    return false;
            return ::access(path.c_str(), mode) == 0;
        });
    }

    TempDir dir_;
    ScopedBookmarkSettings settings_;
    diag::LineCapture capture_;
    fs::path folder_ = dir_ / "photos";
    fs::path sidecar_ = dir_ / "photos/IMG_0001.xmp";
    FakePrompt prompt_;
};

TEST_F(SidecarAccessTest, ReadableSidecarInWritableFolderIsReachedDirectlyWithoutQuestion) {
    const auto access = requestSidecarAccess(sidecar_, std::ref(prompt_));
    ASSERT_TRUE(access);
    EXPECT_EQ(access->scopedPath, sidecar_);
    ASSERT_TRUE(access->stop);
    access->stop();
    EXPECT_TRUE(prompt_.asked.empty());
    EXPECT_FALSE(bookmarks::bookmarkData(folder_));
}

TEST_F(SidecarAccessTest, MissingSidecarInReadableFolderIsReachedWithoutQuestion) {
    const fs::path missing = folder_ / "IMG_0002.xmp";
    const auto access = requestSidecarAccess(missing, std::ref(prompt_));
    ASSERT_TRUE(access);
    EXPECT_EQ(access->scopedPath, missing);
    EXPECT_TRUE(prompt_.asked.empty());
}

TEST_F(SidecarAccessTest, MissingSidecarInUnreadableFolderNeedsTheQuestion) {
    auto check = deny({{folder_, R_OK}});
    EXPECT_FALSE(requestSidecarAccess(folder_ / "IMG_0002.xmp", {}));
}

TEST_F(SidecarAccessTest, UnreadableSidecarWithoutPromptCannotBeReached) {
    auto check = deny({{sidecar_, R_OK}});
    EXPECT_FALSE(requestSidecarAccess(sidecar_, {}));
}

TEST_F(SidecarAccessTest, ReadOnlyFolderAsksForItAndRemembersTheGrant) {
    auto check = deny({{folder_, W_OK}});
    prompt_.answer = folder_;
    const auto access = requestSidecarAccess(sidecar_, std::ref(prompt_));
    ASSERT_TRUE(access);
    EXPECT_EQ(prompt_.asked, std::vector<fs::path>{folder_});
    EXPECT_EQ(access->scopedPath, fs::canonical(folder_) / "IMG_0001.xmp");
    EXPECT_EQ(bookmarks::bookmarkData(folder_), fs::canonical(folder_).string());

    // The next sidecar of that folder uses the grant: no second question.
    writeFile(folder_ / "IMG_0002.xmp", "<x/>");
    const auto next = requestSidecarAccess(folder_ / "IMG_0002.xmp", std::ref(prompt_));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->scopedPath, fs::canonical(folder_) / "IMG_0002.xmp");
    EXPECT_EQ(prompt_.asked.size(), 1u);
}

TEST_F(SidecarAccessTest, GrantIsWrittenToTheSettingsAtOnceUnderTheFolderKey) {
    auto check = deny({{sidecar_, R_OK}});
    prompt_.answer = folder_;
    ASSERT_TRUE(requestSidecarAccess(sidecar_, std::ref(prompt_)));
    QSettings onDisk(QString::fromStdString((dir_ / "settings.ini").string()), QSettings::IniFormat);
    EXPECT_EQ(onDisk.value(QString::fromStdString(bookmarkKey(folder_))).toByteArray().toStdString(),
              fs::canonical(folder_).string());
}

TEST_F(SidecarAccessTest, CancelledQuestionGivesNothingAndStoresNothing) {
    auto check = deny({{sidecar_, R_OK}});
    EXPECT_FALSE(requestSidecarAccess(sidecar_, std::ref(prompt_)));
    EXPECT_EQ(prompt_.asked.size(), 1u);
    EXPECT_FALSE(bookmarks::bookmarkData(folder_));
}

TEST_F(SidecarAccessTest, UnrelatedChosenFolderIsKeptButNeverReachesItsSameNamedFile) {
    auto check = deny({{sidecar_, R_OK}});
    fs::create_directories(dir_ / "elsewhere");
    writeFile(dir_ / "elsewhere/IMG_0001.xmp", "<another photo's sidecar/>");
    prompt_.answer = dir_ / "elsewhere";
    EXPECT_FALSE(requestSidecarAccess(sidecar_, std::ref(prompt_)));
    EXPECT_TRUE(bookmarks::bookmarkData(dir_ / "elsewhere"));
    EXPECT_FALSE(bookmarks::bookmarkData(folder_));
    EXPECT_TRUE(capture_.contains("[DEBUG] Chosen folder does not contain the XMP sidecar: " +
                                  fs::canonical(dir_ / "elsewhere").string()));
}

TEST_F(SidecarAccessTest, ChosenParentFolderReachesTheSidecarInItsSubfolder) {
    auto check = deny({{sidecar_, R_OK}});
    prompt_.answer = dir_.path();
    const auto access = requestSidecarAccess(sidecar_, std::ref(prompt_));
    ASSERT_TRUE(access);
    EXPECT_EQ(access->scopedPath, fs::canonical(folder_) / "IMG_0001.xmp");
    EXPECT_TRUE(bookmarks::bookmarkData(dir_.path()));
}

TEST_F(SidecarAccessTest, ChosenFolderThatIsGoneFailsWithTheBookmarkLine) {
    auto check = deny({{sidecar_, R_OK}});
    prompt_.answer = dir_ / "vanished";
    EXPECT_FALSE(requestSidecarAccess(sidecar_, std::ref(prompt_)));
    ASSERT_EQ(capture_.lines().size(), 1u);
    EXPECT_EQ(capture_.lines()[0].rfind("[DEBUG] Failed creating bookmark for folder: ", 0), 0u);
    EXPECT_NE(capture_.lines()[0].find("vanished"), std::string::npos);
}

TEST_F(SidecarAccessTest, RememberedGrantComesFirstWhenItsFileExists) {
    bookmarks::storeBookmarkData(folder_, fs::canonical(folder_).string());
    const auto access = requestSidecarAccess(sidecar_, std::ref(prompt_));
    ASSERT_TRUE(access);
    EXPECT_EQ(access->scopedPath, fs::canonical(folder_) / "IMG_0001.xmp");
}

TEST_F(SidecarAccessTest, GrantOfAFolderThatIsGoneIsPassedOverAndKept) {
    bookmarks::storeBookmarkData(folder_, (dir_ / "gone").string());
    const auto access = requestSidecarAccess(sidecar_, std::ref(prompt_));
    ASSERT_TRUE(access);
    EXPECT_EQ(access->scopedPath, sidecar_);
    EXPECT_EQ(bookmarks::bookmarkData(folder_), (dir_ / "gone").string());
}

TEST_F(SidecarAccessTest, GrantWhoseFolderLacksTheSidecarFallsBackToDirectAccess) {
    fs::create_directories(dir_ / "other");
    bookmarks::storeBookmarkData(folder_, fs::canonical(dir_ / "other").string());
    const auto access = requestSidecarAccess(sidecar_, std::ref(prompt_));
    ASSERT_TRUE(access);
    EXPECT_EQ(access->scopedPath, sidecar_);
}

TEST(BookmarkKey, IsTheStandardizedFolderPath) {
    EXPECT_EQ(bookmarkKey("/Users/me/Pictures/Export"), "xmpBookmark::/Users/me/Pictures/Export");
    EXPECT_EQ(bookmarkKey("/Users/me/./Pictures/../Pictures/Export/"), "xmpBookmark::/Users/me/Pictures/Export");
    EXPECT_EQ(bookmarkKey("/"), "xmpBookmark::/");
}

TEST(BookmarkKey, RelativeFolderIsMadeAbsolute) {
    EXPECT_EQ(bookmarkKey("photos"), bookmarkKey(fs::current_path() / "photos"));
}

TEST(BookmarkKey, BytesThatAreNotUtf8AreEscaped) {
    EXPECT_EQ(bookmarkKey("/p/caf\xE9"), "xmpBookmark::/p/caf%E9");
    EXPECT_NE(bookmarkKey("/p/caf\xE9"), bookmarkKey("/p/caf\xE8"));
}

}  // namespace
}  // namespace meridane
