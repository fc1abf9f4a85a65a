#include "sidecar/internal/FileSystem.h"

#include "FakeFileSystem.h"
#include "SidecarFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace meridane::sidecar {
namespace {

namespace fs = std::filesystem;

TEST(SystemError, IsTheEnglishDescriptionWhateverTheLocale) {
    EXPECT_EQ(systemError(ENOSPC), (Error{ErrorDomain::fileSystem, ENOSPC, "No space left on device"}));
    EXPECT_EQ(systemError(EACCES).message, "Permission denied");
}

TEST(SystemError, ContextNamesTheFileInTypographicQuotes) {
    EXPECT_EQ(withContext(systemError(ENOSPC), "Could not write " + quotedName("/a/b/.IMG_0001.xmp.tmp")).message,
              "Could not write \u201C.IMG_0001.xmp.tmp\u201D: No space left on device");
}

TEST(RealFileSystem, ReadsARegularFileWhole) {
    testing::TempDir dir;
    const std::string contents(200'000, 'x');  // more than one read's buffer
    testing::writeFile(dir / "IMG_0001.xmp", contents);
    auto bytes = fileSystem().readFile(dir / "IMG_0001.xmp");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes.value(), contents);
}

TEST(RealFileSystem, FolderIsNotReadAsAFile) {
    testing::TempDir dir;
    fs::create_directory(dir / "IMG_0001.xmp");
    auto bytes = fileSystem().readFile(dir / "IMG_0001.xmp");
    ASSERT_FALSE(bytes);
    EXPECT_EQ(bytes.error().code, EISDIR);
}

TEST(RealFileSystem, NamedPipeIsRefusedWithoutWaitingForAWriter) {
    testing::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "IMG_0001.xmp").c_str(), 0644), 0);
    auto bytes = fileSystem().readFile(dir / "IMG_0001.xmp");
    ASSERT_FALSE(bytes);
    EXPECT_EQ(bytes.error(), (Error{ErrorDomain::fileSystem, EINVAL, "Not a regular file"}));
}

TEST(RealFileSystem, HugeFileIsRefusedBeforeItIsRead) {
    testing::TempDir dir;
    const fs::path path = dir / "IMG_0001.xmp";
    testing::writeFile(path, "");
    fs::resize_file(path, kMaximumReadBytes + 1);  // sparse: costs no disk
    auto bytes = fileSystem().readFile(path);
    ASSERT_FALSE(bytes);
    EXPECT_EQ(bytes.error().code, EFBIG);
}

TEST(RealFileSystem, CapacityOfAFolderIsKnown) {
    testing::TempDir dir;
    auto capacity = fileSystem().availableCapacity(dir.path());
    ASSERT_TRUE(capacity);
    ASSERT_TRUE(capacity->has_value());
    EXPECT_GT(capacity->value(), 0u);
}

TEST(RealFileSystem, CapacityOfAMissingFolderIsAnError) {
    testing::TempDir dir;
    auto capacity = fileSystem().availableCapacity(dir / "missing");
    ASSERT_FALSE(capacity);
    EXPECT_EQ(capacity.error().code, ENOENT);
}

TEST(RealFileSystem, ExclusiveCreationRefusesAnExistingName) {
    testing::TempDir dir;
    testing::writeFile(dir / ".IMG_0001.xmp.tmp", "left over");
    auto fd = fileSystem().createExclusive(dir / ".IMG_0001.xmp.tmp", 0600);
    ASSERT_FALSE(fd);
    EXPECT_EQ(fd.error().code, EEXIST);
}

TEST(RealFileSystem, ExclusiveCreationDoesNotFollowALink) {
    testing::TempDir dir;
    testing::writeFile(dir / "elsewhere", "precious");
    fs::create_symlink(dir / "elsewhere", dir / ".IMG_0001.xmp.tmp");
    auto fd = fileSystem().createExclusive(dir / ".IMG_0001.xmp.tmp", 0600);
    EXPECT_FALSE(fd);
    EXPECT_EQ(testing::readFile(dir / "elsewhere"), "precious");
}

TEST(ScopedFileSystemOverride, IsInForceWhileItLivesOnly) {
    FileSystem* real = &fileSystem();
    {
        testing::FakeFileSystem fake;
        ScopedFileSystemOverride override(fake);
        EXPECT_EQ(&fileSystem(), &fake);
    }
    EXPECT_EQ(&fileSystem(), real);
}

}  // namespace
}  // namespace meridane::sidecar
