// SPDX-License-Identifier: GPL-3.0-or-later
// Reaching a sidecar: direct access, a remembered grant that still holds the
// sidecar's folder, or the folder question; and the grants' keys.
#include "access/SidecarAccess.h"
#include "base/Diagnostics.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace meridane {
namespace {
namespace fs = std::filesystem;

TEST(BookmarkKey, IsTheStandardizedFolderPath) {
    EXPECT_EQ(bookmarkKey("/Users/me/./Pictures/../Pictures/Export/"), "xmpBookmark::/Users/me/Pictures/Export");
    EXPECT_EQ(bookmarkKey("/"), "xmpBookmark::/");
    EXPECT_EQ(bookmarkKey("photos"), bookmarkKey(fs::current_path() / "photos"));
    EXPECT_EQ(bookmarkKey("/p/caf\xE9"), "xmpBookmark::/p/caf%E9");
}

struct SidecarAccess : ::testing::Test {
    testing::TempDir dir;
    ScopedBookmarkSettings settings{dir / "settings.ini"};
    fs::path card = dir / "card";  // a link to the card in the reader
    fs::path sidecar = card / "IMG_0001.xmp";
    std::vector<fs::path> asked;
    std::optional<fs::path> answer;
    bool denyDirect = true;  // a superuser may write anywhere: decide here
    ScopedPathAccessCheck check{[this](const fs::path& p, int mode) {
        return !(denyDirect && mode == W_OK) && ::access(p.c_str(), mode) == 0;
    }};

    SidecarAccess() {
        for (const char* name : {"card1", "card2"}) {
            fs::create_directories(dir / name);
            testing::writeFile(dir / name / "IMG_0001.xmp", name);
        }
        fs::create_directory_symlink("card1", card);
    }
    std::optional<ScopedAccess> request(const fs::path& path, SidecarUse use = SidecarUse::write) {
        Result<ScopedAccess> access = requestSidecarAccess(path, use, [this](const fs::path& folder) {
            asked.push_back(folder);
            return answer;
        });
        return access ? std::optional<ScopedAccess>(std::move(access).value()) : std::nullopt;
    }
};

TEST_F(SidecarAccess, AskedOnceThenRememberedWhileTheFolderHoldsTheSidecarUnlessReachedDirectly) {
    answer = dir.path();  // a folder above the sidecar's
    const auto first = request(sidecar);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->scopedPath, fs::canonical(dir / "card1") / "IMG_0001.xmp");
    EXPECT_EQ(asked, std::vector<fs::path>{card});
    EXPECT_EQ(bookmarks::bookmarkData(dir.path()), fs::canonical(dir.path()).string());

    bookmarks::storeBookmarkData(card, fs::canonical(dir / "card1"));
    answer.reset();
    EXPECT_EQ(request(sidecar)->scopedPath, fs::canonical(dir / "card1") / "IMG_0001.xmp");
    EXPECT_EQ(asked.size(), 1u);
    // The link now leads to another card: its sidecar is another photo's,
    // and the grant of the first card must not reach it.
    fs::remove(card);
    fs::create_directory_symlink("card2", card);
    EXPECT_FALSE(request(sidecar));
    EXPECT_EQ(asked.size(), 2u);
    // Direct access comes first, whatever grants there are.
    denyDirect = false;
    const auto direct = request(sidecar);
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->scopedPath, sidecar);
    fs::remove(sidecar);
    EXPECT_EQ(request(sidecar)->scopedPath, sidecar) << "a missing sidecar is the pipeline's to report";
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(SidecarAccess, AnUnrelatedOrCancelledChoiceReachesNothing) {
    diag::LineCapture capture;
    answer = dir / "card2";
    EXPECT_FALSE(request(sidecar));
    EXPECT_TRUE(capture.contains("[DEBUG] Chosen folder does not contain the XMP sidecar: " +
                                 fs::canonical(dir / "card2").string()));
    EXPECT_TRUE(bookmarks::bookmarkData(dir / "card2")) << "the grant is kept";
    answer.reset();
    EXPECT_FALSE(request(sidecar));
    answer = dir / "gone";
    EXPECT_FALSE(request(sidecar));
    EXPECT_EQ(capture.lines().back().rfind("[DEBUG] Failed creating bookmark for folder: ", 0), 0u);
    EXPECT_FALSE(bookmarks::bookmarkData(card));
}

// Without a sandbox nothing is asked: the reason is the row's text.
TEST(SidecarAccessWithoutPrompt, ReadsNeedReadingAndWritesNeedAWritableFolder) {
    testing::TempDir dir;
    testing::writeFile(dir / "IMG_0001.xmp", "x");
    const fs::path sidecar = dir / "IMG_0001.xmp", missing = dir / "IMG_0002.xmp";
    const std::string folder = dir.path().string();
    struct Case {
        const char* name;
        int folderWriteErrno;  // 0: writable
        bool sidecarReadable;
        SidecarUse use;
        fs::path path;
        std::string failure;  // empty: reached directly
    };
    const Case cases[] = {
        {"dry run, read-only mount", EROFS, true, SidecarUse::read, sidecar, ""},
        {"dry run, folder of another user", EACCES, true, SidecarUse::read, sidecar, ""},
        {"write, read-only mount", EROFS, true, SidecarUse::write, sidecar,
         "Cannot write to folder " + folder + ": read-only file system"},
        {"write, folder of another user", EACCES, true, SidecarUse::write, sidecar,
         "Cannot write to folder " + folder + ": permission denied"},
        {"write, writable folder", 0, true, SidecarUse::write, sidecar, ""},
        {"dry run, unreadable sidecar", 0, false, SidecarUse::read, sidecar, kSidecarPermissionDenied},
        {"write, missing sidecar on a read-only mount", EROFS, true, SidecarUse::write, missing, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedPathAccessCheck check([&](const fs::path& p, int mode) {
            if (mode == W_OK && p == dir.path() && c.folderWriteErrno)
                return errno = c.folderWriteErrno, false;
            return mode != R_OK || p != sidecar || c.sidecarReadable;
        });
        const Result<ScopedAccess> access = requestSidecarAccess(c.path, c.use, {});
        if (c.failure.empty()) {
            ASSERT_TRUE(access) << access.error().message;
            EXPECT_EQ(access->scopedPath, c.path);
        } else {
            ASSERT_FALSE(access);
            EXPECT_EQ(access.error().message, c.failure);
            EXPECT_EQ(isCannotWriteToFolderText(c.failure), c.failure != kSidecarPermissionDenied);
        }
    }
}

}  // namespace
}  // namespace meridane
