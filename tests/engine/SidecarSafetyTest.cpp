// SPDX-License-Identifier: GPL-3.0-or-later
// Engine-level safety of a sidecar: another program's edit between the read
// and the rename is read and decided again, and two images that share one
// sidecar are never in flight together.
#include "engine/BatchRun.h"
#include "engine/internal/MediaFileProcessor.h"
#include "SidecarBuilder.h"
#include "ImageBuilder.h"
#include "TestSupport.h"
#include "base/Diagnostics.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <mutex>
#include <thread>

namespace meridane {
namespace {
namespace fs = std::filesystem;
using namespace testing;

// Edits the sidecar each time a save is held after flushing its temporary
// file (the test builds' pause), with the next of `edits`; the last one
// serves every later pause.
ProcessingResult processWithEdits(const fs::path& image, const fs::path& sidecar, std::vector<std::string> edits) {
    int toTest[2], toSave[2];
    EXPECT_EQ(::pipe(toTest), 0);
    EXPECT_EQ(::pipe(toSave), 0);
    ::setenv("MERIDANE_TEST_SAVE_PAUSE_FDS", (std::to_string(toTest[1]) + "," + std::to_string(toSave[0])).c_str(), 1);
    std::thread editor([&] {
        char c = 0;
        for (size_t i = 0; ::read(toTest[0], &c, 1) == 1;)
            if (c == '\n') {
                writeFile(sidecar, edits[std::min(i++, edits.size() - 1)]);
                (void)::write(toSave[1], "g", 1);
            }
    });
    ScopedProcessingOptions options(ProcessingOptionValues{.dryRun = false});
    diag::ScopedSink quiet([](std::string_view) {});
    ProcessingResult result = MediaFileProcessor().processFile(image);
    ::unsetenv("MERIDANE_TEST_SAVE_PAUSE_FDS");
    ::close(toTest[1]);
    editor.join();
    for (int fd : {toTest[0], toSave[0], toSave[1]})
        ::close(fd);
    return result;
}

TEST(SidecarSafety, AnEditDuringTheSaveIsKeptAndDecidedAgain) {
    TempDir dir;
    writeFile(dir / "IMG_0001.DNG", buildTiff(cameraTiff()));  // 37.7749, -122.4194
    const std::string edited = sidecarXml("37.77490000N", "122.41940000W", "N", "W", "<xmp:Rating>5</xmp:Rating>");
    writeFile(dir / "IMG_0001.xmp", sidecarXml("37.7749", "122.4194", "N", "W", "<xmp:Rating>1</xmp:Rating>"));
    EXPECT_EQ(processWithEdits(dir / "IMG_0001.DNG", dir / "IMG_0001.xmp", {edited}), ProcessingResult::alreadyCorrect());
    EXPECT_EQ(readFile(dir / "IMG_0001.xmp"), edited);

    writeFile(dir / "IMG_0001.xmp", sidecarXml("37.7749", "122.4194", "N", "W"));
    const std::string again = sidecarXml("37.7749", "122.4194", "N", "W", "<xmp:Rating>4</xmp:Rating>");
    const std::string last = sidecarXml("37.7749", "122.4194", "N", "W", "<xmp:Rating>44</xmp:Rating>");
    EXPECT_EQ(processWithEdits(dir / "IMG_0001.DNG", dir / "IMG_0001.xmp", {again, last}),
              ProcessingResult::failed("XMP sidecar changed while it was being updated"));
    EXPECT_EQ(readFile(dir / "IMG_0001.xmp"), last);
    EXPECT_FALSE(fs::exists(dir / ".IMG_0001.xmp.tmp"));
}

TEST(SidecarSafety, ImagesSharingASidecarAreNeverInFlightTogether) {
    TempDir dir;
    for (const char* name : {"a.DNG", "a.dng", "a.HEIC", "b.DNG", "c.dng", "c.heif"})
        writeFile(dir / name, "");
    std::mutex mutex;
    std::map<fs::path, int> inFlight;
    int overlaps = 0, processed = 0;
    BatchRun run;
    run.setFileProcessor([&](const fs::path& file, FolderAccessPrompt*) {
        const fs::path sidecar = MediaFileProcessor::sidecarPath(file);
        {
            std::lock_guard lock(mutex);
            overlaps += inFlight[sidecar]++ > 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard lock(mutex);
        --inFlight[sidecar];
        ++processed;
        return ProcessingResult::alreadyCorrect();
    });
    QEventLoop loop;
    QObject::connect(&run, &BatchRun::runFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    ASSERT_TRUE(run.processPaths({dir.path()}));
    loop.exec();
    EXPECT_EQ(processed, 6);
    EXPECT_EQ(overlaps, 0);
}

}  // namespace
}  // namespace meridane
