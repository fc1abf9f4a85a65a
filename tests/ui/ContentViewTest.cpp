// The window's column: header and badge, switches, drops, progress.
#include "UiTestSupport.h"

#include "base/Diagnostics.h"
#include "ui/ContentView.h"
#include "ui/DropZone.h"
#include "ui/ProgressBlock.h"
#include "ui/ResultsModel.h"
#include "ui/ResultsSection.h"

#include "TestSupport.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace meridane::ui {
namespace {

using meridane::testing::FakeRun;
using meridane::testing::fileDrop;
using meridane::testing::TempDir;
using meridane::testing::waitForRunToFinish;
using meridane::testing::writeFile;

class ContentViewTest : public ::testing::Test {
protected:
    ContentViewTest() : view(fake.run()) {
        view.resize(640, 720);
        view.show();
    }

    /// Sends a drop to the drop zone as a file manager would; returns
    /// whether it was accepted.
    bool drop(const std::vector<std::filesystem::path>& paths) {
        auto mime = fileDrop(paths);
        return dropMime(*mime);
    }

    /// The drag enters the zone, then the items are dropped; a drop goes
    /// only where the drag was accepted.
    bool dropMime(const QMimeData& mime) {
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        QCoreApplication::sendEvent(view.dropZone(), &enter);
        QDropEvent event(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        event.ignore();
        QCoreApplication::sendEvent(view.dropZone(), &event);
        return enter.isAccepted() && event.isAccepted();
    }

    BatchRun& run() { return fake.run(); }

    FakeRun fake;
    ContentView view;
    TempDir dir;
};

TEST_F(ContentViewTest, StartsWithTitleBadgeAndSwitchesButNoProgressOrResults) {
    EXPECT_EQ(view.titleLabel()->text(), "Meridane");
    EXPECT_FALSE(view.badge()->isHidden());
    EXPECT_EQ(view.badge()->text(), "Dry Run - No Changes Made");
    EXPECT_EQ(view.dryRunSwitch()->text(), "Dry Run");
    EXPECT_TRUE(view.dryRunSwitch()->isChecked());
    EXPECT_EQ(view.dryRunSwitch()->toolTip(), "Simulates the update without actually modifying any XMP files.");
    EXPECT_EQ(view.silentSwitch()->text(), "Silently Ignore Skipped");
    EXPECT_FALSE(view.silentSwitch()->isChecked());
    EXPECT_EQ(view.silentSwitch()->toolTip(), "Hide skipped files from the results list.");
    EXPECT_TRUE(view.progressBlock()->isHidden());
    EXPECT_TRUE(view.resultsSection()->heading()->isHidden());
    EXPECT_FALSE(view.resultsSection()->copyAllButton()->isEnabled());
}

TEST_F(ContentViewTest, DropZoneSaysWhatItTakesAndPromisesNoNewSidecars) {
    EXPECT_EQ(view.dropZone()->title(), "Drop files/folders");
    EXPECT_EQ(view.dropZone()->subtitle(), "HEIC/HEIF/DNG supported. Only XMP sidecars will be updated.");
    EXPECT_EQ(view.dropZone()->toolTip(),
              "Drop HEIC/HEIF/DNG files or folders. Only existing .xmp sidecars will be updated.");
    EXPECT_EQ(view.dropZone()->height(), 120);
}

TEST_F(ContentViewTest, DropZoneIsAnnouncedAsAButton) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(view.dropZone());
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Button);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Drop files/folders");
}

TEST_F(ContentViewTest, TurningDryRunOffHidesTheBadgeAndReachesTheProcessOptions) {
    view.dryRunSwitch()->setChecked(false);
    EXPECT_TRUE(view.badge()->isHidden());
    EXPECT_FALSE(run().options().dryRun);
    EXPECT_FALSE(processingOptions::current().dryRun);

    view.dryRunSwitch()->setChecked(true);
    EXPECT_FALSE(view.badge()->isHidden());
    EXPECT_TRUE(processingOptions::current().dryRun);
}

TEST_F(ContentViewTest, SilentSwitchReachesTheProcessOptionsAndKeepsTheOtherTwo) {
    view.silentSwitch()->setChecked(true);
    EXPECT_TRUE(processingOptions::current().silentlyIgnoreSkipped);
    EXPECT_FALSE(processingOptions::current().alwaysOverwrite);
    EXPECT_TRUE(processingOptions::current().appleOnly);
}

TEST_F(ContentViewTest, DroppedFilesRunInDropOrderAndUnsupportedOnesAreLeftOut) {
    diag::LineCapture lines;
    EXPECT_TRUE(drop({dir / "b.heic", dir / "notes.txt", dir / "a.HEIC", dir / "c.dng"}));
    ASSERT_TRUE(waitForRunToFinish(run()));
    EXPECT_TRUE(lines.contains("[DEBUG] notes.txt is not a supported media file"));
    EXPECT_EQ(run().totalCount(), 3);
    // The first pair may finish in either order; the third file comes last.
    const auto names = fake.processedNames();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[2], "c.dng");
    EXPECT_EQ(view.resultsSection()->model()->rowCount(), 3);
}

TEST_F(ContentViewTest, ProgressReadsZeroOfTotalAtTheStartAndTheTotalWithoutNameAtTheEnd) {
    // What the window shows the moment the walk has ended, before any result.
    QString atStart;
    bool busyAtStart = true;
    QObject::connect(&run(), &BatchRun::collectingFinished, &view, [&] {
        atStart = view.progressBlock()->text();
        busyAtStart = view.progressBlock()->isBusy();
    });
    ASSERT_TRUE(drop({dir / "a.heic", dir / "b.heic", dir / "c.heic"}));
    ASSERT_TRUE(waitForRunToFinish(run()));
    EXPECT_EQ(atStart, "Processed 0/3");
    EXPECT_FALSE(busyAtStart);
    EXPECT_EQ(view.progressBlock()->text(), "Processed 3/3");
    EXPECT_EQ(view.progressBlock()->value(), view.progressBlock()->maximum());
}

TEST_F(ContentViewTest, ProgressNamesTheLatestFileWhileRunning) {
    ASSERT_TRUE(drop({dir / "a.heic", dir / "b.heic", dir / "hold.heic"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.progressBlock()->text().startsWith("Processed 2/3"); }, 5000));
    ASSERT_TRUE(run().isProcessing());
    const std::string latest = run().currentFile();
    EXPECT_TRUE(latest == "a.heic" || latest == "b.heic") << latest;
    EXPECT_EQ(view.progressBlock()->text().toStdString(), "Processed 2/3 \u2022 " + latest);
    fake.release();
    ASSERT_TRUE(waitForRunToFinish(run()));
}

TEST_F(ContentViewTest, DropIsRefusedWhileARunIsInProgress) {
    ASSERT_TRUE(drop({dir / "hold.heic", dir / "b.heic", dir / "c.heic"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run().isCollecting(); }, 5000));
    ASSERT_TRUE(run().isProcessing());
    EXPECT_FALSE(drop({dir / "other.heic"}));
    EXPECT_FALSE(view.handleDrop({dir / "other.heic"}));
    EXPECT_EQ(run().totalCount(), 3);
    fake.release();
    ASSERT_TRUE(waitForRunToFinish(run()));
    const auto names = fake.processedNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "other.heic"), 0);
    EXPECT_EQ(run().processedCount(), 3);
}

TEST_F(ContentViewTest, DroppedFolderContributesItsMediaFiles) {
    std::filesystem::create_directories(dir / "photos" / "nested");
    writeFile(dir / "photos" / "one.heic", "x");
    writeFile(dir / "photos" / "nested" / "two.DNG", "x");
    writeFile(dir / "photos" / "readme.txt", "x");
    ASSERT_TRUE(drop({dir / "photos"}));
    ASSERT_TRUE(waitForRunToFinish(run()));
    EXPECT_EQ(run().totalCount(), 2);
    EXPECT_EQ(run().processedCount(), 2);
}

TEST_F(ContentViewTest, WhileTheDropIsSearchedTheBlockShowsABusyBarAndCollectingFiles) {
    std::filesystem::create_directories(dir / "photos");
    writeFile(dir / "photos" / "one.heic", "x");
    ASSERT_TRUE(drop({dir / "a.heic"}));
    ASSERT_TRUE(waitForRunToFinish(run()));
    ASSERT_EQ(view.resultsSection()->model()->rowCount(), 1);

    ASSERT_TRUE(drop({dir / "photos"}));
    // The search's outcome reaches the window only through its event loop.
    ASSERT_TRUE(run().isCollecting());
    EXPECT_FALSE(view.progressBlock()->isHidden());
    EXPECT_TRUE(view.progressBlock()->isBusy());
    EXPECT_EQ(view.progressBlock()->text(), "Collecting files\u2026");
    EXPECT_EQ(view.resultsSection()->model()->rowCount(), 0);

    ASSERT_TRUE(waitForRunToFinish(run()));
    EXPECT_FALSE(view.progressBlock()->isBusy());
    EXPECT_EQ(view.progressBlock()->text(), "Processed 1/1");
}

TEST_F(ContentViewTest, DropDuringTheSearchIsRefusedAndTheWindowDoesNotChange) {
    std::filesystem::create_directories(dir / "photos");
    writeFile(dir / "photos" / "one.heic", "x");
    ASSERT_TRUE(drop({dir / "photos"}));
    ASSERT_TRUE(run().isCollecting());
    EXPECT_FALSE(drop({dir / "other.heic"}));
    EXPECT_FALSE(view.handleDrop({dir / "other.heic"}));
    EXPECT_EQ(view.progressBlock()->text(), "Collecting files\u2026");
    ASSERT_TRUE(waitForRunToFinish(run()));
    EXPECT_EQ(fake.processedNames(), (std::vector<std::string>{"one.heic"}));
}

TEST_F(ContentViewTest, ASearchThatFindsNothingLeavesTheEmptyWindow) {
    std::filesystem::create_directories(dir / "empty");
    ASSERT_TRUE(drop({dir / "a.heic"}));
    ASSERT_TRUE(waitForRunToFinish(run()));

    ASSERT_TRUE(drop({dir / "empty"}));
    ASSERT_TRUE(waitForRunToFinish(run()));
    EXPECT_FALSE(run().isProcessing());
    EXPECT_EQ(run().totalCount(), 0);
    EXPECT_TRUE(view.progressBlock()->isHidden());
    EXPECT_EQ(view.resultsSection()->model()->rowCount(), 0);
    EXPECT_TRUE(view.resultsSection()->heading()->isHidden());
    EXPECT_FALSE(view.resultsSection()->copyAllButton()->isEnabled());
    // And the next drop is taken.
    EXPECT_TRUE(drop({dir / "b.heic"}));
    ASSERT_TRUE(waitForRunToFinish(run()));
    EXPECT_EQ(run().processedCount(), 1);
}

TEST_F(ContentViewTest, DropOfOnlyUnsupportedItemsClearsThePreviousRunAndStartsNothing) {
    ASSERT_TRUE(drop({dir / "a.heic"}));
    ASSERT_TRUE(waitForRunToFinish(run()));
    ASSERT_EQ(view.resultsSection()->model()->rowCount(), 1);

    EXPECT_TRUE(drop({dir / "notes.txt"}));
    // The rows go at once; the items are looked at afterwards.
    EXPECT_EQ(view.resultsSection()->model()->rowCount(), 0);
    ASSERT_TRUE(waitForRunToFinish(run()));
    EXPECT_FALSE(run().isProcessing());
    EXPECT_EQ(run().totalCount(), 0);
    EXPECT_TRUE(view.progressBlock()->isHidden());
    EXPECT_EQ(view.resultsSection()->model()->rowCount(), 0);
    EXPECT_TRUE(view.resultsSection()->heading()->isHidden());
    EXPECT_FALSE(view.resultsSection()->copyAllButton()->isEnabled());
}

TEST_F(ContentViewTest, WebAddressesInADropArePassedOver) {
    QMimeData mime;
    mime.setUrls({QUrl(QStringLiteral("https://example.com/photo.heic"))});
    EXPECT_TRUE(dropMime(mime));
    ASSERT_TRUE(waitForRunToFinish(run()));
    EXPECT_FALSE(run().isProcessing());
    EXPECT_EQ(run().totalCount(), 0);
    EXPECT_TRUE(fake.processedNames().empty());
}

TEST(DropZoneTest, KeepsTheLocalPathsOfADropInDropOrder) {
    QMimeData mime;
    mime.setUrls({QUrl(QStringLiteral("file:///photos/z.heic")), QUrl(QStringLiteral("https://example.com/a.heic")),
                  QUrl(QStringLiteral("file:///photos/trip%20one/a.HEIC")), QUrl(QStringLiteral("file:///photos"))});
    EXPECT_EQ(DropZone::localPaths(mime), (std::vector<std::filesystem::path>{
                                              "/photos/z.heic", "/photos/trip one/a.HEIC", "/photos"}));
}

TEST_F(ContentViewTest, DragOverIsRefusedWhileRunningAndAcceptedOtherwise) {
    auto mime = fileDrop({dir / "a.heic"});
    auto dragEnterAccepted = [&] {
        QDragEnterEvent event(QPoint(20, 20), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        event.ignore();
        QCoreApplication::sendEvent(view.dropZone(), &event);
        return event.isAccepted();
    };
    EXPECT_TRUE(dragEnterAccepted());
    ASSERT_TRUE(drop({dir / "hold.heic"}));
    EXPECT_FALSE(dragEnterAccepted());
    fake.release();
    ASSERT_TRUE(waitForRunToFinish(run()));
}

TEST_F(ContentViewTest, ClickOnTheDropZoneDoesNothing) {
    QTest::mouseClick(view.dropZone(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_FALSE(run().isProcessing());
    EXPECT_EQ(run().totalCount(), 0);
    EXPECT_TRUE(view.progressBlock()->isHidden());
}

struct ProgressTextCase {
    const char* name;
    std::int64_t processed;
    std::int64_t total;
    const char* currentFile;
    const char* expected;
};

void PrintTo(const ProgressTextCase& c, std::ostream* os) { *os << c.name; }

class ProgressTextTest : public ::testing::TestWithParam<ProgressTextCase> {};

TEST_P(ProgressTextTest, ReadsAsShown) {
    const auto& c = GetParam();
    EXPECT_EQ(progressText(c.processed, c.total, c.currentFile).toStdString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ProgressTextTest,
    ::testing::Values(ProgressTextCase{"BeforeFirstResult", 0, 3, "", "Processed 0/3"},
                      ProgressTextCase{"WhileRunning", 2, 5, "IMG_0002.HEIC", "Processed 2/5 \u2022 IMG_0002.HEIC"},
                      ProgressTextCase{"Finished", 5, 5, "", "Processed 5/5"},
                      ProgressTextCase{"LargeCounts", 1234567, 9876543210, "x.dng",
                                       "Processed 1234567/9876543210 \u2022 x.dng"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgressBlockTest, CollectingShowsABusyBarUntilTheCountIsKnown) {
    ProgressBlock block;
    block.showCollecting();
    EXPECT_FALSE(block.isHidden());
    EXPECT_TRUE(block.isBusy());
    EXPECT_EQ(block.text(), "Collecting files\u2026");
    block.showProgress(0, 3, "");
    EXPECT_FALSE(block.isBusy());
    EXPECT_EQ(block.text(), "Processed 0/3");
    block.showCollecting();
    block.showProgress(0, 0, "");
    EXPECT_TRUE(block.isHidden());
}

TEST(ProgressBlockTest, HiddenWithoutFilesAndFullAtTheEnd) {
    ProgressBlock block;
    block.showProgress(0, 0, "");
    EXPECT_TRUE(block.isHidden());
    block.showProgress(4, 4, "");
    EXPECT_FALSE(block.isHidden());
    EXPECT_EQ(block.value(), block.maximum());
}

}  // namespace
}  // namespace meridane::ui
