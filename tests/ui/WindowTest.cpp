// SPDX-License-Identifier: GPL-3.0-or-later
// The window as people drive it: drops as a file manager sends them, landing
// anywhere, rows that wrap, the keyboard, what screen readers are told.
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "base/Diagnostics.h"
#include "ui/DropZone.h"
#include "ui/MessageBar.h"
#include "ui/PathText.h"
#include "ui/ProgressBlock.h"
#include "ui/UiStyle.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <map>

namespace meridane::ui {
namespace {

using namespace meridane::testing;

class WindowTest : public ViewTest {
protected:
    WindowTest() { section().setRevealer([this](const std::filesystem::path& file) { revealed.push_back(file); }); }
    ResultsListView& list() { return *section().list(); }
    QModelIndex row(int i) { return model().index(i); }
    QString clipboard() { return QGuiApplication::clipboard()->text(); }

    Paths revealed;
};

TEST_F(WindowTest, DropsAsAFileManagerSendsThemReachALatin1NameLeaveOutOtherItemsAndLandAnywhere) {
    TempDir dir;
    writeFile(dir / "caf\xE9.HEIC", "x");
    diag::LineCapture lines;
    QMimeData mime;
    const QByteArray folder = fileUrl(dir.path()).toEncoded();
    mime.setData("text/uri-list", folder + "/caf%E9.HEIC\r\nhttps://example.com/a.heic\r\n" + folder + "/notes.txt\r\n");
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    for (QEvent* event : std::initializer_list<QEvent*>{&enter, &drop}) {
        event->ignore();
        QCoreApplication::sendEvent(view.dropZone(), event);
        EXPECT_TRUE(event->isAccepted());
    }
    ASSERT_TRUE(waitForRunToFinish(run));
    ASSERT_EQ(run.totalCount(), 1);
    EXPECT_EQ(run.results().at(0).filePath, dir / "caf\xE9.HEIC");
    EXPECT_TRUE(lines.contains("[DEBUG] notes.txt is not a supported media file"));
    EXPECT_EQ(line(0).toStdString(), "caf\uFFFD.HEIC: [Dry Run] Would Update:\n\u2022 a\n\u2022 b");
    EXPECT_EQ(progressText(1, 9876543210, "a\nb\x1B"), QStringLiteral("Processed 1/9876543210 \u2022 a\\x0Ab\\x1B"));

    // The list is showing: a drop lands on it too, lighting the slim zone while dragged.
    mime.setUrls({fileUrl("/p/b.heic")});
    QDragEnterEvent overList(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list().viewport(), &overList);
    EXPECT_TRUE(overList.isAccepted());
    EXPECT_TRUE(view.dropZone()->isHighlighted());
    EXPECT_TRUE(view.dropZone()->isCompact()) << "a slim bar once results show";
    QDropEvent onList(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list().viewport(), &onList);
    EXPECT_TRUE(onList.isAccepted());
    EXPECT_FALSE(view.dropZone()->isHighlighted());
    ASSERT_TRUE(waitForRunToFinish(run));
    ASSERT_EQ(run.totalCount(), 1);
    EXPECT_EQ(run.results().at(0).filePath, "/p/b.heic");
}

TEST_F(WindowTest, RowsWrapTheirWholeTextAndWrapAgainWhenTheWindowIsResized) {
    ASSERT_TRUE(runFiles({"/p/long.heic", "/p/failed.heic"}));
    const int longRow = line(0).startsWith("long") ? 0 : 1;
    const auto height = [&](int i) {
        QCoreApplication::processEvents();
        return list().visualRect(row(i)).height();
    };
    const int single = height(1 - longRow);
    const int narrow = height(longRow);
    view.resize(1400, 720);
    const int wide = height(longRow);
    EXPECT_GT(narrow, wide);
    EXPECT_GT(wide, single) << "300 characters do not fit on one line even in a wide window";
    view.resize(640, 720);
    EXPECT_EQ(height(longRow), narrow);
}

TEST_F(WindowTest, EveryRowActionIsReachableFromTheKeyboard) {
    ASSERT_TRUE(runFiles({"/p/failed1.heic", "/p/failed2.heic"}));
    QTest::keyClick(&list(), Qt::Key_Down);
    QTest::keyClick(&list(), Qt::Key_Down);
    ASSERT_EQ(list().currentIndex(), row(1));
    EXPECT_EQ(list().rowWithButtons(), row(1)) << "the real buttons sit on the current row";
    QTest::keyClick(&list(), Qt::Key_Return);
    EXPECT_EQ(revealed, Paths{model().detail(1).filePath});
    QTest::keySequence(&list(), QKeySequence::Copy);
    EXPECT_EQ(clipboard(), line(1));
    const std::unique_ptr<QMenu> menu(list().rowMenu(row(0)));
    ASSERT_EQ(menu->actions().size(), 2);
    menu->actions()[1]->trigger();
    EXPECT_EQ(clipboard(), line(0));
    list().copyButton()->click();
    EXPECT_EQ(clipboard(), line(1));
}

// The real buttons' labels on a selected row are judged by the pixels drawn
// on the highlight (the commonest colour there), whatever colour role the
// style takes for them and however light the theme's highlight is.
TEST_F(WindowTest, TheButtonsOnASelectedRowAreReadableOnTheHighlight) {
    ASSERT_TRUE(runFiles({"/p/failed1.heic", "/p/failed2.heic"}));
    const QPoint first = list().visualRect(row(0)).center();
    QTest::mouseMove(list().viewport(), first);
    QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, first);
    QTest::keyClick(&list(), Qt::Key_Down);
    QTest::mouseMove(&view, QPoint(view.width() - 2, view.height() - 2));
    QCoreApplication::processEvents();
    ASSERT_EQ(list().rowWithButtons(), row(1));
    ASSERT_TRUE(list().selectionModel()->isSelected(row(1)));
    for (QToolButton* button : {list().revealButton(), list().copyButton()}) {
        ASSERT_TRUE(button->isVisible());
        const QImage pixels = section().grab(QRect(button->mapTo(&section(), QPoint(0, 0)), button->size())).toImage();
        std::map<QRgb, int> counts;
        for (int y = 0; y < pixels.height(); ++y)
            for (int x = 0; x < pixels.width(); ++x)
                ++counts[pixels.pixel(x, y)];
        const QColor background(std::ranges::max_element(counts, {}, &std::pair<const QRgb, int>::second)->first);
        ASSERT_NE(background, list().palette().color(QPalette::Base)) << "the row is drawn selected";
        double best = 1.0;
        for (const auto& drawn : counts)
            best = std::max(best, contrastRatio(QColor(drawn.first), background));
        EXPECT_GE(best, kMinimumTextContrast) << button->text().toStdString();
    }
}

TEST_F(WindowTest, ScreenReadersAreToldTheNameAndRoleOfEveryControl) {
    ASSERT_TRUE(runFiles({"/p/failed.heic"}));
    list().setCurrentIndex(row(0));
    const std::tuple<QWidget*, QAccessible::Role, QString> controls[] = {
        {view.dropZone(), QAccessible::Button, "Drop files/folders"},
        {view.dryRunSwitch(), QAccessible::CheckBox, "Dry Run"},
        {view.silentSwitch(), QAccessible::CheckBox, "Silently Ignore Skipped"},
        {list().revealButton(), QAccessible::Button, "Reveal in File Manager"},
        {list().copyButton(), QAccessible::Button, "Copy"},
        {section().copyAllButton(), QAccessible::Button, "Copy All Results"},
        {view.findChild<QProgressBar*>("progressBar"), QAccessible::ProgressBar, "Progress"},
        {section().filterButton(2), QAccessible::CheckBox, "Problems"},
        {section().searchField(), QAccessible::EditableText, "Search names"},
        {view.messageBar(), QAccessible::AlertMessage, "Messages"},
        {view.messageBar()->closeButton(), QAccessible::Button, "Close Message"}};
    for (const auto& [widget, role, name] : controls) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(accessible, nullptr) << name.toStdString();
        EXPECT_EQ(accessible->role(), role) << name.toStdString();
        EXPECT_EQ(accessible->text(QAccessible::Name), name);
    }
    QAccessibleTableInterface* rows = QAccessible::queryAccessibleInterface(&list())->tableInterface();
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->cellAt(0, 0)->text(QAccessible::Name), "failed.heic: Failed: boom");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(list().copyButton())->text(QAccessible::Description), "failed.heic");
}

TEST(PathTextTest, CommandLineAndShownTextsFindTheBytesOfALatin1Name) {
    TempDir dir;
    const std::filesystem::path latin1 = dir / "caf\xE9";
    std::filesystem::create_directory(latin1);
    const char* argv[] = {"meridane", "--screenshot", "shot.png", latin1.c_str(), "--", "-odd"};
    EXPECT_EQ(pathArguments(6, argv, {"--screenshot"}), (Paths{latin1, std::filesystem::absolute("-odd")}));
    EXPECT_EQ(pathFromText(pathText(latin1 / "x.heic")), latin1 / "x.heic");
    EXPECT_EQ(nearestShowableFolder(latin1 / "sub"), dir.path());
}

}  // namespace
}  // namespace meridane::ui
