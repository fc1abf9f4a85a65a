// The results section: row texts, icons, the filter, scrolling, the two row
// buttons and the copied report.
#include "UiTestSupport.h"

#include "ui/ContentView.h"
#include "ui/ResultIcons.h"
#include "ui/ResultRowDelegate.h"
#include "ui/ResultsModel.h"
#include "ui/ResultsSection.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace meridane::ui {
namespace {

using meridane::testing::FakeRun;
using meridane::testing::waitForRunToFinish;

class ResultsListTest : public ::testing::Test {
protected:
    ResultsListTest() : view(fake.run()) {
        view.resize(640, 720);
        view.show();
    }

    /// Runs the fake pipeline over files of these names.
    void runFiles(const std::vector<std::string>& names) {
        std::vector<std::filesystem::path> paths;
        for (const auto& name : names)
            paths.push_back(std::filesystem::path("/photos") / name);
        ASSERT_TRUE(view.handleDrop(paths));
        ASSERT_TRUE(waitForRunToFinish(fake.run()));
    }

    ResultsModel& model() { return *view.resultsSection()->model(); }
    QString rowData(int row, int role) { return model().data(model().index(row), role).toString(); }
    QString reportOf(int row) { return rowData(row, ResultsModel::ReportTextRole); }

    /// Clicks one of a row's two buttons, as the user would.
    void clickButton(int row, ResultRowDelegate::Button button) {
        ResultsListView* list = view.resultsSection()->list();
        const QModelIndex index = model().index(row);
        list->scrollTo(index);
        const QRect target = view.resultsSection()->delegate()->buttonRect(list->visualRect(index), button);
        ASSERT_TRUE(target.isValid());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, target.center());
    }

    FakeRun fake;
    ContentView view;
};

TEST_F(ResultsListTest, UpdatedRowKeepsTheWordingOfTheRunThatMadeIt) {
    runFiles({"IMG_0001.HEIC"});
    ASSERT_EQ(model().rowCount(), 1);
    EXPECT_EQ(rowData(0, ResultsModel::FileNameRole), "IMG_0001.HEIC");
    EXPECT_EQ(reportOf(0), QStringLiteral("[Dry Run] Would Update:\n\u2022 a\n\u2022 b"));

    // Nothing was written by that run, whatever the switch says now.
    view.dryRunSwitch()->setChecked(false);
    EXPECT_EQ(reportOf(0), QStringLiteral("[Dry Run] Would Update:\n\u2022 a\n\u2022 b"));
    runFiles({"IMG_0002.HEIC"});
    EXPECT_EQ(rowData(0, ResultsModel::LineRole), QStringLiteral("IMG_0002.HEIC: Updated:\n\u2022 a\n\u2022 b"));
}

TEST_F(ResultsListTest, RowsShowTheirTextsInArrivalOrder) {
    runFiles({"failed.heic", "different.heic", "tolerance.dng"});
    ASSERT_EQ(model().rowCount(), 3);
    QStringList texts;
    for (int row = 0; row < 3; ++row)
        texts << rowData(row, ResultsModel::LineRole);
    texts.sort();  // the first pair may finish in either order
    EXPECT_EQ(texts, (QStringList{QStringLiteral("different.heic: Skipped (GPS differs):\n\u2022 Latitude: 1.0 \u2192 2.0"),
                                  QStringLiteral("failed.heic: Failed: boom"),
                                  QStringLiteral("tolerance.dng: Within tolerance \u2014 not updated (no hemisphere letter)")}));
    EXPECT_EQ(rowData(2, ResultsModel::FileNameRole), "tolerance.dng");
}

TEST_F(ResultsListTest, MultiLineRowsAreTallerThanSingleLineRows) {
    runFiles({"failed.heic", "updated.heic"});
    ResultsListView* list = view.resultsSection()->list();
    int single = -1;
    int triple = -1;
    for (int row = 0; row < 2; ++row) {
        const int lines = model().data(model().index(row), ResultsModel::LineCountRole).toInt();
        const int height = list->visualRect(model().index(row)).height();
        (lines == 1 ? single : triple) = height;
    }
    ASSERT_GT(single, 0);
    EXPECT_GT(triple, single);
}

TEST_F(ResultsListTest, SilentSwitchHidesSkippedKindsAndShowsThemAgain) {
    runFiles({"correct.heic", "failed.heic", "tolerance.heic", "missing.heic", "updated.heic", "different.heic"});
    ASSERT_EQ(model().rowCount(), 6);

    view.silentSwitch()->setChecked(true);
    ASSERT_EQ(model().rowCount(), 3);
    QStringList shown;
    for (int row = 0; row < model().rowCount(); ++row)
        shown << rowData(row, ResultsModel::FileNameRole);
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"different.heic", "failed.heic", "updated.heic"}));
    EXPECT_EQ(fake.run().processedCount(), 6);

    view.silentSwitch()->setChecked(false);
    EXPECT_EQ(model().rowCount(), 6);
}

TEST_F(ResultsListTest, OnlyHiddenKindsLeaveNoHeadingNoListAndADisabledCopyAll) {
    view.silentSwitch()->setChecked(true);
    runFiles({"correct.heic", "tolerance.heic"});
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_EQ(fake.run().processedCount(), fake.run().totalCount());
    EXPECT_TRUE(view.resultsSection()->heading()->isHidden());
    EXPECT_TRUE(view.resultsSection()->list()->isHidden());
    EXPECT_FALSE(view.resultsSection()->copyAllButton()->isEnabled());
}

TEST_F(ResultsListTest, HeadingListAndCopyAllAppearWithTheFirstVisibleRow) {
    runFiles({"failed.heic"});
    EXPECT_EQ(view.resultsSection()->heading()->text(), "Results");
    EXPECT_FALSE(view.resultsSection()->heading()->isHidden());
    EXPECT_FALSE(view.resultsSection()->list()->isHidden());
    EXPECT_TRUE(view.resultsSection()->copyAllButton()->isEnabled());
    EXPECT_EQ(view.resultsSection()->copyAllButton()->text(), "Copy All Results");
}

TEST_F(ResultsListTest, CopyAllPutsTheSettingsHeaderAndOneLinePerVisibleRowOnTheClipboard) {
    view.silentSwitch()->setChecked(true);
    runFiles({"failed.heic", "correct.heic", "failed2.heic"});
    QTest::mouseClick(view.resultsSection()->copyAllButton(), Qt::LeftButton);

    const QStringList lines = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3) << QGuiApplication::clipboard()->text().toStdString();
    static const QRegularExpression header(QStringLiteral(
        "^Results \u2014 \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 \u2014 Settings: "
        "DryRun=true ForceOverwrite=false AppleOnly=true SilentSkip=true$"));
    EXPECT_TRUE(header.match(lines[0]).hasMatch()) << lines[0].toStdString();
    QStringList rows = lines.mid(1);
    rows.sort();
    EXPECT_EQ(rows, (QStringList{"failed.heic: Failed: boom", "failed2.heic: Failed: boom"}));
}

TEST_F(ResultsListTest, CopyAllKeepsTheNewlinesOfMultiLineRows) {
    runFiles({"updated.heic"});
    view.resultsSection()->copyAllResults();
    const QStringList lines = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines.mid(1), (QStringList{"updated.heic: [Dry Run] Would Update:", QStringLiteral("\u2022 a"),
                                         QStringLiteral("\u2022 b")}));
}

TEST_F(ResultsListTest, RowCopyButtonReplacesTheClipboardWithThatRowAlone) {
    runFiles({"failed.heic"});
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    clickButton(0, ResultRowDelegate::Button::copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "failed.heic: Failed: boom");
}

TEST_F(ResultsListTest, RowRevealButtonAsksForThatRowsFile) {
    std::vector<std::filesystem::path> revealed;
    view.resultsSection()->setRevealer([&](const std::filesystem::path& file) { revealed.push_back(file); });
    runFiles({"failed.heic"});
    clickButton(0, ResultRowDelegate::Button::reveal);
    ASSERT_EQ(revealed.size(), 1u);
    EXPECT_EQ(revealed[0], std::filesystem::path("/photos/failed.heic"));
}

TEST_F(ResultsListTest, ClickBesideTheButtonsNeitherCopiesNorReveals) {
    int revealed = 0;
    view.resultsSection()->setRevealer([&](const std::filesystem::path&) { ++revealed; });
    runFiles({"failed.heic"});
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    ResultsListView* list = view.resultsSection()->list();
    const QRect row = list->visualRect(model().index(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(row.left() + 40, row.center().y()));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept");
    EXPECT_EQ(revealed, 0);
}

TEST_F(ResultsListTest, ButtonsCarryTheirLabels) {
    EXPECT_EQ(ResultRowDelegate::revealLabel(), "Reveal in File Manager");
    EXPECT_EQ(ResultRowDelegate::copyLabel(), "Copy");
}

TEST_F(ResultsListTest, ListScrollsToTheNewestRow) {
    std::vector<std::string> names;
    for (int i = 0; i < 120; ++i)
        names.push_back("failed-" + std::to_string(i) + ".heic");
    runFiles(names);
    ResultsListView* list = view.resultsSection()->list();
    ASSERT_GT(list->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
    const QRect last = list->visualRect(model().index(model().rowCount() - 1));
    EXPECT_TRUE(list->viewport()->rect().contains(last)) << last.y();
}

TEST_F(ResultsListTest, ListScrollsToTheNewestRowWhenTheFilterChangesTheCount) {
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) {
        names.push_back("failed-" + std::to_string(i) + ".heic");
        names.push_back("correct-" + std::to_string(i) + ".heic");
    }
    runFiles(names);
    ResultsListView* list = view.resultsSection()->list();
    list->verticalScrollBar()->setValue(0);
    view.silentSwitch()->setChecked(true);
    QCoreApplication::processEvents();
    ASSERT_GT(list->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
}

TEST_F(ResultsListTest, ANewRunClearsTheRowsOfTheLastOne) {
    runFiles({"failed.heic", "updated.heic"});
    runFiles({"correct.heic"});
    ASSERT_EQ(model().rowCount(), 1);
    EXPECT_EQ(rowData(0, ResultsModel::FileNameRole), "correct.heic");
}

struct IconCase {
    ProcessingResult::Case resultCase;
    const char* name;
    QRgb color;
};

void PrintTo(const IconCase& c, std::ostream* os) { *os << c.name; }

class ResultIconTest : public ::testing::TestWithParam<IconCase> {};

TEST_P(ResultIconTest, HasItsBundledIconInItsColour) {
    const auto& c = GetParam();
    EXPECT_EQ(resultColor(c.resultCase).rgb(), c.color);
    const QString path = resultIcon(c.resultCase);
    EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(QColor(c.color).name(QColor::HexRgb).toUpper().toLatin1()));

    const QImage image = resultIconPixmap(c.resultCase, 16, 2.0).toImage();
    EXPECT_EQ(image.size(), QSize(32, 32));
    int painted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            painted += qAlpha(image.pixel(x, y)) > 0;
    EXPECT_GT(painted, 40);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultIconTest,
    ::testing::Values(IconCase{ProcessingResult::Case::updated, "updated", qRgb(0x34, 0xC7, 0x59)},
                      IconCase{ProcessingResult::Case::withinTolerance, "withinTolerance", qRgb(0x00, 0x7A, 0xFF)},
                      IconCase{ProcessingResult::Case::fileNotFound, "fileNotFound", qRgb(0xFF, 0xCC, 0x00)},
                      IconCase{ProcessingResult::Case::unsupportedFile, "unsupportedFile", qRgb(0x8E, 0x8E, 0x93)},
                      IconCase{ProcessingResult::Case::skippedMissing, "skippedMissing", qRgb(0xFF, 0xCC, 0x00)},
                      IconCase{ProcessingResult::Case::skippedNonApple, "skippedNonApple", qRgb(0x8E, 0x8E, 0x93)},
                      IconCase{ProcessingResult::Case::skippedDifferentGPS, "skippedDifferentGPS",
                               qRgb(0xFF, 0x95, 0x00)},
                      IconCase{ProcessingResult::Case::failed, "failed", qRgb(0xFF, 0x3B, 0x30)},
                      IconCase{ProcessingResult::Case::alreadyCorrect, "alreadyCorrect", qRgb(0x34, 0xC7, 0x59)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace meridane::ui
