// SPDX-License-Identifier: GPL-3.0-or-later
// Getting from one step of a run to the next: choosing, dropping, writing
// what a dry run found, stopping, undo and redo, reviewing a big run.
#include "SidecarBuilder.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "engine/RunHistory.h"
#include "ui/DropZone.h"
#include "ui/MessageBar.h"
#include "ui/PathText.h"
#include "ui/RunTexts.h"
#include "ui/WindowSize.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <ctime>
#include <functional>

namespace meridane::ui {
namespace {

using namespace meridane::testing;

Paths rowPaths(const BatchRun& run) {
    Paths paths;
    for (const ProcessingResultDetail& detail : run.results())
        paths.push_back(detail.filePath);
    std::sort(paths.begin(), paths.end());
    return paths;
}

using FlowTest = MainWindowTest;

TEST_F(FlowTest, OpenAndTheDropZoneAsAButtonFeedARunWithWhatTheChooserGives) {
    std::vector<RunFlow::Choose> asks;
    Paths chosen{"/p/a.heic", "/p/failed.heic"};
    flow().setChooser([&](QWidget*, RunFlow::Choose what) {
        asks.push_back(what);
        return chosen;
    });
    EXPECT_EQ(flow().openAction()->shortcut(), QKeySequence(QKeySequence::Open));
    flow().openAction()->trigger();
    ASSERT_TRUE(waitForRunToFinish(window.run()));
    EXPECT_EQ(rowPaths(window.run()), chosen);

    // Space, Enter and a screen reader's press open the chooser; a cancelled
    // one leaves the last run alone.
    DropZone& zone = *window.content()->dropZone();
    chosen = {};
    QTest::keyClick(&zone, Qt::Key_Space);
    QTest::keyClick(&zone, Qt::Key_Return);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&zone);
    ASSERT_TRUE(accessible->actionInterface());
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(asks.size(), 4u);
    EXPECT_EQ(window.run().totalCount(), 2);

    chosen = {"/p/b.heic"};
    flow().openFolderAction()->trigger();
    EXPECT_EQ(asks.back(), RunFlow::Choose::folder);
    ASSERT_TRUE(waitForRunToFinish(window.run()));
    EXPECT_EQ(rowPaths(window.run()), chosen);
    flow().runAgainAction()->trigger();  // F5: the same items once more
    ASSERT_TRUE(waitForRunToFinish(window.run()));
    EXPECT_EQ(rowPaths(window.run()), chosen);
}

TEST_F(FlowTest, WritingADryRunsChangesWritesExactlyTheFilesThatWouldChange) {
    TempDir dir;
    for (const char* name : {"a.heic", "failed.heic", "correct.heic", "b.heic", "new.heic"})  // new: not in the dry run
        writeFile(dir / name, "x");
    ASSERT_TRUE(runFiles({dir / "a.heic", dir / "failed.heic", dir / "correct.heic", dir / "b.heic"}));
    EXPECT_EQ(section().originLabel()->text(), "Dry run \u2014 nothing was written");
    QPushButton* write = section().writeChangesButton();
    EXPECT_TRUE(write->isVisible());
    EXPECT_EQ(write->text(), "Write 2 Changes\u2026");
    EXPECT_EQ(flow().writeChangesAction()->text(), write->text());

    answer = false;
    write->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].contains("2 XMP sidecars")) << asked[0].toStdString();
    EXPECT_TRUE(asked[0].contains(pathText(dir.path()))) << "the question names the folder";
    EXPECT_FALSE(window.run().isProcessing());

    answer = true;
    write->click();
    EXPECT_FALSE(window.content()->dryRunSwitch()->isChecked()) << "the switch shows what this run does";
    ASSERT_TRUE(waitForRunToFinish(window.run()));
    EXPECT_EQ(rowPaths(window.run()), (Paths{dir / "a.heic", dir / "b.heic"}));
    for (const ProcessingResultDetail& detail : window.run().results())
        EXPECT_FALSE(detail.result.get<ProcessingResult::Updated>()->dryRun);
    EXPECT_EQ(section().originLabel()->text(), "Write run");
    EXPECT_TRUE(window.content()->dryRunSwitch()->isChecked()) << "the next run is a dry run again";
    EXPECT_FALSE(write->isVisible());
    EXPECT_FALSE(flow().writeChangesAction()->isEnabled());
}

// A write does what its dry run showed or nothing: a setting that changes
// what would be written, or where, takes the offer back until a new dry run.
TEST_F(FlowTest, ASettingThatChangesTheWriteTakesBackTheDryRunsOffer) {
    TempDir dir;
    const Paths files{dir / "a.heic", dir / "b.heic"};
    for (const std::filesystem::path& file : files)
        writeFile(file, "x");
    QPushButton* write = section().writeChangesButton();
    MessageBar& bar = *window.content()->messageBar();
    const ProcessingOptionValues original = window.run().options();
    using Change = void (*)(ProcessingOptionValues&);
    const Change changes[] = {
        [](ProcessingOptionValues& o) { o.sidecarNaming = SidecarNaming::full; },
        [](ProcessingOptionValues& o) { o.coordinateFormat = CoordinateFormat::dm; },
        [](ProcessingOptionValues& o) { o.alwaysOverwrite = !o.alwaysOverwrite; },
        [](ProcessingOptionValues& o) { o.appleOnly = !o.appleOnly; },
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(&change - changes);
        window.run().setOptions(original);
        ASSERT_TRUE(runFiles(files));
        // Neither switch changes what a write does: the offer stays.
        ProcessingOptionValues options = original;
        options.dryRun = false;
        options.silentlyIgnoreSkipped = true;
        window.run().setOptions(options);
        window.run().setOptions(original);
        EXPECT_TRUE(write->isVisible());
        EXPECT_TRUE(bar.messages().isEmpty());

        options = original;
        change(options);
        window.run().setOptions(options);
        EXPECT_FALSE(write->isVisible());
        EXPECT_FALSE(flow().writeChangesAction()->isEnabled());
        EXPECT_TRUE(flow().previewedFiles().empty());
        EXPECT_EQ(bar.messages(), QStringList{QStringLiteral("The settings changed since the dry run. Run Again (F5) "
                                                             "to see what a write would do now.")});
        // Even a shortcut that reaches the flow asks nothing and writes nothing.
        flow().writePreviewedChanges();
        EXPECT_TRUE(asked.empty());
        EXPECT_FALSE(window.run().isProcessing());
        EXPECT_EQ(section().originLabel()->text(), "Dry run \u2014 nothing was written");
    }
}

// A change while a dry run goes applies to the files after it: such a run
// shows nothing one write could do, and one turned into a write run that has
// written files must not say that nothing was.
TEST_F(FlowTest, ASettingChangedWhileADryRunGoesTakesEffectForTheFilesAfterIt) {
    const ProcessingOptionValues original = window.run().options();
    for (const bool write : {false, true}) {
        fake.emplace(&window.run());
        window.run().setOptions(original);
        ASSERT_TRUE(window.content()->handleDrop({"/p/a.heic", "/p/hold.heic"}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.run().processedCount() == 1; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(section().originLabel()->text(), "Dry run \u2014 nothing was written");
        ProcessingOptionValues options = original;
        if (write)
            options.dryRun = false;
        else
            options.sidecarNaming = SidecarNaming::full;
        window.run().setOptions(options);
        fake->release();
        ASSERT_TRUE(waitForRunToFinish(window.run()));
        EXPECT_EQ(window.run().results().size(), 2u);
        EXPECT_EQ(section().originLabel()->text(), write ? "Write run" : "Dry run \u2014 nothing was written");
        if (!write) {
            EXPECT_FALSE(section().writeChangesButton()->isVisible());
            EXPECT_TRUE(flow().previewedFiles().empty());
        }
    }
}

TEST_F(FlowTest, CtrlWAndCtrlQAskDuringARunAndTheQuestionHoldsBackNewFiles) {
    const Paths files{"/p/hold1.heic", "/p/hold2.heic", "/p/c.heic", "/p/d.heic", "/p/e.heic"};
    for (const auto& [stop, key] : {std::pair{false, Qt::CTRL | Qt::Key_W}, std::pair{true, Qt::CTRL | Qt::Key_Q}}) {
        SCOPED_TRACE(stop ? "Stop and Close" : "Keep Running");
        FakeRun held(&window.run());
        int asked = 0, startedWhileAsked = -1;
        window.setStopQuestion([&] {
            held.release();  // the files in flight finish while the question is open
            EXPECT_TRUE(QTest::qWaitFor([&] { return window.run().processedCount() == 2; }));
            QTest::qWait(100);
            startedWhileAsked = held.started();
            return ++asked, stop;
        });
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        ASSERT_TRUE(window.content()->handleDrop(files));
        ASSERT_TRUE(QTest::qWaitFor([&] { return held.started() == 2; }));
        QTest::keyClick(&window, key.key(), key.keyboardModifiers());
        EXPECT_EQ(startedWhileAsked, 2) << "no file started while the question was open";
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.run().isProcessing(); }));
        EXPECT_EQ(window.run().processedCount(), stop ? 2 : 5);
        EXPECT_EQ(window.isVisible(), !stop);
        QTest::keyClick(&window, key.key(), key.keyboardModifiers());  // asks nothing once the run is over
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(asked, 1);
    }
}

using UndoRedoTest = RealWindowTest;

TEST_F(UndoRedoTest, TheMenuNamesTheWriteRunItTakesBackAndNeverOffersTheUndoItself) {
    // Times are shown in the local zone: one far from UTC shows it.
    const QByteArray savedZone = qgetenv("TZ");
    const auto restore = qScopeGuard([&] {
        QLocale::setDefault(QLocale::c());
        savedZone.isNull() ? qunsetenv("TZ") : qputenv("TZ", savedZone);
        ::tzset();
    });
    qputenv("TZ", "Asia/Kolkata");
    ::tzset();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    TempDir dir;
    BatchRun& run = window.run();
    run.setRunsFolder(dir / "runs");
    run.setOptions({.dryRun = false});
    for (const char* name : {"IMG_0001", "IMG_0002"})
        writePhoto(dir / name, kNeedsLettersXml);
    const std::string original = readFile(dir / "IMG_0002.xmp");
    ASSERT_TRUE(run.processPaths({dir / "IMG_0001.HEIC"}) && waitForRunToFinish(run));
    ASSERT_TRUE(run.processPaths({dir / "IMG_0002.HEIC"}) && waitForRunToFinish(run));
    const std::string written = readFile(dir / "IMG_0002.xmp");
    ASSERT_NE(written, original);
    const std::vector<KeptRun> kept = RunHistory(dir / "runs").list();
    ASSERT_EQ(kept.size(), 2u);
    const auto shown = [](const KeptRun& keptRun) {
        const auto started = std::chrono::system_clock::to_time_t(keptRun.started);
        return QDateTime::fromSecsSinceEpoch(started).toLocalTime().toString(QStringLiteral("HH:mm"));
    };

    flow().refresh();
    EXPECT_EQ(flow().undoAction()->text(), "Undo Write Run of " + shown(kept[1]) + " (1 sidecar)\u2026");
    EXPECT_EQ(flow().undoAction()->shortcut(), QKeySequence(QKeySequence::Undo));
    EXPECT_FALSE(flow().redoAction()->isEnabled());
    flow().undoAction()->trigger();
    ASSERT_TRUE(waitForRunToFinish(run));
    EXPECT_EQ(readFile(dir / "IMG_0002.xmp"), original);
    EXPECT_EQ(window.content()->resultsSection()->originLabel()->text(), "Undo of a write run");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].contains("write run of " + shown(kept[1]))) << asked[0].toStdString();

    // Ctrl+Z now offers the older write run; Redo puts the undone one back.
    EXPECT_EQ(flow().undoAction()->text(), "Undo Write Run of " + shown(kept[0]) + " (1 sidecar)\u2026");
    EXPECT_EQ(flow().redoAction()->text(), "Redo Write Run of " + shown(kept[1]) + "\u2026");
    EXPECT_EQ(flow().redoAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    flow().redoAction()->trigger();
    ASSERT_TRUE(waitForRunToFinish(run));
    EXPECT_EQ(readFile(dir / "IMG_0002.xmp"), written);
    EXPECT_FALSE(flow().redoAction()->isEnabled());
}

using ReviewTest = ViewTest;

TEST_F(ReviewTest, FilterAndSearchNarrowTheRowsAndTheSummaryCountsThemAll) {
    ASSERT_TRUE(runFiles({"/p/a.heic", "/p/failed1.heic", "/p/correct.heic", "/p/failed2.heic", "/p/b.heic"}));
    EXPECT_EQ(section().summaryLabel()->text(), "5 files: 2 would update, 1 already correct, 2 failed");
    const struct Case {
        int filter;
        const char* search;
        QStringList shown;
    } cases[] = {
        {2, "", {"failed1.heic", "failed2.heic"}},
        {2, "FAILED2", {"failed2.heic"}},
        {1, "", {"a.heic", "b.heic"}},
        {1, "failed", {}},
        {0, "Corr", {"correct.heic"}},
        {0, "", {"a.heic", "b.heic", "correct.heic", "failed1.heic", "failed2.heic"}},
    };
    for (const auto& c : cases) {
        section().filterButton(c.filter)->click();
        section().searchField()->setText(QString::fromLatin1(c.search));
        QStringList names = lines(ResultsModel::FileNameRole);
        names.sort();
        EXPECT_EQ(names, c.shown) << c.filter << " " << c.search;
        EXPECT_TRUE(section().list()->isVisible()) << "the list stays while a filter matches nothing";
    }
    section().filterButton(2)->click();
    section().copyAllButton()->click();
    const QStringList report = QGuiApplication::clipboard()->text().split('\n');
    ASSERT_EQ(report.size(), 3) << "the header and the two rows shown";
    EXPECT_TRUE(report[0].startsWith("Results \u2014 "));

    // Counts follow the locale of the window; the report's header does not.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ResultsModel::Counts many;
    many.total = 20000;
    many.wouldUpdate = 19999;
    many.perCase[static_cast<std::size_t>(ProcessingResult::Case::failed)] = 1;
    EXPECT_EQ(summaryLineText(many), "20.000 files: 19.999 would update, 1 failed");
    EXPECT_EQ(writeChangesText(1234), "Write 1.234 Changes\u2026");
    QLocale::setDefault(QLocale::c());
}

// The summary ends with the failures: a narrow window wraps it, never cuts it.
TEST_F(ReviewTest, TheSummaryWrapsRatherThanLosingItsLastCounts) {
    ASSERT_TRUE(runFiles({"/p/a.heic", "/p/failed.heic"}));
    ResultsModel::Counts counts;
    for (std::size_t i = 0; i < ProcessingResult::kCaseCount; ++i)
        counts.perCase[i] = 500;
    counts.total = 500 * static_cast<std::int64_t>(ProcessingResult::kCaseCount);
    QLabel& summary = *section().summaryLabel();
    summary.setText(summaryLineText(counts));  // as long as it gets
    const int oneLine = summary.fontMetrics().lineSpacing();
    for (const int width : {1600, 640, 300, 1600}) {
        view.resize(width, 720);
        QCoreApplication::processEvents();
        const QRect room = summary.contentsRect();
        const QRect needed = summary.fontMetrics().boundingRect(QRect(0, 0, room.width(), 100 * oneLine),
                                                                Qt::TextWordWrap, summary.text());
        EXPECT_GE(room.height(), needed.height()) << width << " px: " << room.width() << " px wide";
        EXPECT_LE(needed.width(), room.width()) << width;
        if (width < 1000) {
            EXPECT_GT(needed.height(), oneLine) << "the text is long enough to wrap at " << room.width();
        } else {
            EXPECT_LT(room.height(), 2 * oneLine) << "one line again when there is room";
        }
    }
}

TEST_F(ReviewTest, SeveralRowsAreCopiedInOrderAndRepeatedNamesShowTheirFolder) {
    TempDir dir;
    for (const char* file : {"one/IMG_0004.heic", "two/sub/IMG_0004.heic", "two/failed.heic"}) {
        std::filesystem::create_directories((dir / file).parent_path());
        writeFile(dir / file, "x");
    }
    ASSERT_TRUE(runFiles({dir / "one", dir / "two"}));
    ASSERT_EQ(model().rowCount(), 3);
    std::map<QString, QStringList> folders;
    for (int i = 0; i < 3; ++i)
        folders[lines(Qt::DisplayRole)[i]] << lines(ResultsModel::FolderRole)[i];
    EXPECT_EQ(folders["failed.heic"], QStringList{""}) << "a name seen once needs no folder";
    folders["IMG_0004.heic"].sort();
    EXPECT_EQ(folders["IMG_0004.heic"], (QStringList{"one", "two/sub"}));

    ResultsListView& list = *section().list();
    list.setFocus();
    list.selectionModel()->select(model().index(2), QItemSelectionModel::Select);
    list.selectionModel()->select(model().index(0), QItemSelectionModel::Select);
    QTest::keySequence(&list, QKeySequence::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), line(0) + "\n" + line(2));
    QTest::keySequence(&list, QKeySequence::SelectAll);
    QTest::keySequence(&list, QKeySequence::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), lines().join('\n'));
}

TEST_F(ReviewTest, TheNewestRowIsCurrentUntilTheUserMoves) {
    ASSERT_TRUE(runFiles({"/p/a.heic", "/p/b.heic", "/p/c.heic"}));
    ResultsListView& list = *section().list();
    EXPECT_EQ(list.currentIndex().row(), 2) << "Tab reaches the buttons of the row in view";
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Up);
    EXPECT_FALSE(list.isFollowingNewest());
    EXPECT_EQ(list.rowWithButtons(), model().index(1));
    // The row's buttons are in the accessibility tree, under the results.
    const std::function<bool(QAccessibleInterface*)> holdsButton = [&](QAccessibleInterface* node) {
        if (node->object() == list.revealButton())
            return true;
        for (int i = 0; i < node->childCount(); ++i)
            if (QAccessibleInterface* child = node->child(i); child && holdsButton(child))
                return true;
        return false;
    };
    EXPECT_TRUE(holdsButton(QAccessible::queryAccessibleInterface(&section())));
    ASSERT_TRUE(runFiles({"/p/a.heic", "/p/b.heic"}));
    EXPECT_EQ(list.currentIndex().row(), 1) << "a new run follows again";
}

TEST_F(FlowTest, TheWindowFitsASmallScreenAndCanBeMadeSmall) {
    ASSERT_TRUE(runFiles({"/p/a.heic", "/p/failed.heic"}));
    const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
    EXPECT_LE(least.width(), 480);
    EXPECT_LE(least.height(), 360);
    // 1920×1080 at 200 %: 960×540 logical, less the panels; all of the
    // content shows at that size, with no scrolling of the window itself.
    const QSize fitted = fittedWindowSize(QSize(720, 720), QSize(960, 510), QSize(16, 48));
    EXPECT_EQ(fitted, QSize(720, 462));
    window.resize(fitted);
    QCoreApplication::processEvents();
    auto* scroll = window.findChild<QScrollArea*>(QStringLiteral("contentScroll"));
    ASSERT_NE(scroll, nullptr);
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
}

}  // namespace
}  // namespace meridane::ui
