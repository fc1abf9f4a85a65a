// SPDX-License-Identifier: GPL-3.0-or-later
// What the window says and how it behaves beyond its rows: the message bar
// for drops and unwritable folders, reading contrast, the Help menu and About
// box, the closing shortcuts, and the quiet standard output of the window.
#include "SidecarBuilder.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "access/SidecarAccess.h"
#include "engine/FolderAccessPrompt.h"
#include "ui/ContentView.h"
#include "ui/HelpMenu.h"
#include "ui/MainWindow.h"
#include "ui/MessageBar.h"
#include "ui/ResultsSection.h"
#include "ui/UiStyle.h"
#include "ui/UpdateChecker.h"
#include "ui/WindowMessages.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <unistd.h>

namespace meridane::ui {
namespace {

namespace fs = std::filesystem;
using namespace meridane::testing;

// A tree of files and their bytes, to show that nothing was written.
std::map<std::string, std::string> treeOf(const fs::path& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        tree[entry.path().string()] = entry.is_regular_file() ? readFile(entry.path()) : "<folder>";
    return tree;
}

class MessagesTest : public ViewTest {
protected:
    MessagesTest() : ViewTest(/*realPipeline=*/true) { run.setRunsFolder(dir / "runs"); }
    std::vector<std::string> rows() {
        std::vector<std::string> lines;
        for (int i = 0; i < model().rowCount(); ++i)
            lines.push_back(line(i).toStdString());
        return lines;
    }
    QStringList messages() { return view.messageBar()->messages(); }

    TempDir dir;
};

class CountingPrompt : public FolderAccessPrompt {
public:
    std::optional<fs::path> promptForFolderAccess(const fs::path&) override { return ++asked, std::nullopt; }
    int asked = 0;
};

TEST_F(MessagesTest, AReadOnlyFolderIsDryRunUnaskedAndAWriteRunSaysSoOncePerFolder) {
    for (const char* stem : {"card/DCIM/IMG_0001", "card/DCIM/IMG_0002", "card/DCIM/IMG_0003", "card/MISC/IMG_0004"})
        writePhoto(dir / stem, kNeedsLettersXml);
    writePhoto(dir / "copy/IMG_0001", kNeedsLettersXml);  // the same photo on a writable disk
    const fs::path dcim = dir / "card/DCIM", misc = dir / "card/MISC";
    ScopedPathAccessCheck readOnlyCard([&](const fs::path& p, int mode) {
        errno = EROFS;
        return !(mode == W_OK && p.string().starts_with((dir / "card").string()));
    });
    CountingPrompt prompt;  // as a sandbox would have; a dry run must not need it
    run.setFolderAccessPrompt(&prompt);

    ASSERT_TRUE(runFiles({dir / "copy"}));
    const std::string writable = rows().at(0).substr(rows().at(0).find(':'));
    const auto before = treeOf(dir / "card");
    ASSERT_TRUE(runFiles({dir / "card"}));
    EXPECT_EQ(prompt.asked, 0);
    ASSERT_EQ(rows().size(), 4u);
    for (const std::string& row : rows())
        EXPECT_EQ(row.substr(row.find(':')), writable) << row;
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_EQ(treeOf(dir / "card"), before);

    run.setFolderAccessPrompt(nullptr);
    run.setOptions({.dryRun = false});
    ASSERT_TRUE(runFiles({dir / "card"}));
    const std::string dcimText = "Cannot write to folder " + dcim.string() + ": read-only file system";
    const std::string miscText = "Cannot write to folder " + misc.string() + ": read-only file system";
    ASSERT_EQ(rows().size(), 4u);
    for (const std::string& row : rows())  // the row's own text is the pipeline's
        EXPECT_TRUE(row.ends_with(": Failed: " + (row.starts_with("IMG_0004") ? miscText : dcimText))) << row;
    EXPECT_EQ(messages().join(" | ").toStdString(),
              dcimText + " \u2014 3 sidecars not updated.\n" + miscText + " \u2014 1 sidecar not updated.");
    EXPECT_EQ(view.messageBar()->kind(), MessageBar::Kind::error);
    EXPECT_EQ(treeOf(dir / "card"), before);
}

// Outside a sandbox no dialog can give this process access it lacks.
TEST(FolderQuestionTest, TheWindowAsksNothingOutsideASandbox) {
    if (folderGrantsCanGiveAccess())
        GTEST_SKIP() << "inside a sandbox the window asks, through the portal";
    TempDir dir;
    writePhoto(dir / "IMG_0001", kNeedsLettersXml);
    ScopedPathAccessCheck readOnly([&](const fs::path& p, int mode) { return errno = EACCES, !(mode == W_OK && p == dir.path()); });
    MainWindow window(new UpdateChecker(QUrl(), QStringLiteral("0.1.0")));
    window.run().setRunsFolder(dir / "runs");
    window.run().setOptions({.dryRun = false});
    window.show();
    int dialogs = 0;
    QTimer watchdog;  // a question would block the run: answer it and count it
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget())
            ++dialogs, modal->close();
    });
    watchdog.start(50);
    ASSERT_TRUE(window.content()->handleDrop({dir / "IMG_0001.HEIC"}));
    ASSERT_TRUE(waitForRunToFinish(window.run()));
    EXPECT_EQ(dialogs, 0);
    ASSERT_EQ(window.run().results().size(), 1u);
    EXPECT_EQ(window.run().results()[0].result,
              ProcessingResult::failed("Cannot write to folder " + dir.path().string() + ": permission denied"));
    EXPECT_EQ(window.content()->messageBar()->messages().size(), 1);
}

TEST_F(MessagesTest, ADropWithNothingToProcessKeepsTheResultsAndSaysWhy) {
    writePhoto(dir / "photos/IMG_0001", kNeedsLettersXml);
    ASSERT_TRUE(runFiles({dir / "photos"}));
    const std::vector<std::string> kept = rows();
    ASSERT_EQ(kept.size(), 1u);

    fs::create_directories(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::none);
    for (const char* name : {"a.pdf", "b.PDF", "c.jpg", "README"})
        writeFile(dir / name, "x");
    std::vector<fs::path> dropped = {dir / "gone", dir / "a.pdf", dir / "b.PDF", dir / "c.jpg", dir / "README"};
    QStringList expected = {"Cannot read " + QString::fromStdString((dir / "gone").string()) + ": no such file or folder",
                            "4 files are not supported photos (PDF, JPG, no extension). Meridane reads HEIC, HEIF and DNG."};
    if (::geteuid() != 0) {  // a superuser reads any folder
        dropped.insert(dropped.begin() + 1, dir / "locked");
        expected[0] += "\nCannot read folder " + QString::fromStdString((dir / "locked").string()) + ": permission denied";
    }
    ASSERT_TRUE(runFiles(dropped));
    EXPECT_EQ(rows(), kept);
    EXPECT_EQ(messages().join(" | ").toStdString(), expected.join(" | ").toStdString());

    // A drop that processes something clears what the last one said.
    fs::create_directories(dir / "empty/sub");
    writeFile(dir / "empty/notes.txt", "x");
    ASSERT_TRUE(runFiles({dir / "empty"}));
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(messages().join(" | ").toStdString(), "No photos in folder " + (dir / "empty").string() + ".");
    EXPECT_EQ(unsupportedText(1, {"PDF"}), "1 file is not a supported photo (PDF). Meridane reads HEIC, HEIF and DNG.");
    EXPECT_EQ(noPhotosText({"/a", "/b"}), "No photos in the 2 dropped folders.");
    fs::permissions(dir / "locked", fs::perms::owner_all);
}

TEST_F(MessagesTest, CopiesAndFailedRevealsAreSaidAndTheBarIsAnAlertWithAName) {
    writePhoto(dir / "IMG_0001", kNeedsLettersXml);
    ASSERT_TRUE(runFiles({dir / "IMG_0001.HEIC"}));
    section().copyAllResults();
    EXPECT_EQ(messages(), QStringList{"Copied"});
    EXPECT_EQ(view.messageBar()->kind(), MessageBar::Kind::positive);
    Q_EMIT section().revealFailed(QStringLiteral("Cannot reveal \u201Cx\u201D: no file manager is installed."));
    EXPECT_EQ(messages().size(), 2);
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(view.messageBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->role(), QAccessible::AlertMessage);
    EXPECT_EQ(bar->text(QAccessible::Name), "Messages");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view.messageBar()->closeButton())->text(QAccessible::Name),
              "Close Message");
    view.messageBar()->closeButton()->click();
    EXPECT_FALSE(view.messageBar()->isVisible());
}

QPalette darkPalette() {
    QPalette p;
    const std::pair<QPalette::ColorRole, QColor> roles[] = {
        {QPalette::Window, QColor(0x20, 0x23, 0x26)},     {QPalette::WindowText, QColor(0xFC, 0xFC, 0xFC)},
        {QPalette::Base, QColor(0x14, 0x16, 0x18)},       {QPalette::Text, QColor(0xFC, 0xFC, 0xFC)},
        {QPalette::Button, QColor(0x29, 0x2C, 0x30)},     {QPalette::ButtonText, QColor(0xFC, 0xFC, 0xFC)},
        {QPalette::Highlight, QColor(0x3D, 0xAE, 0xE9)},  {QPalette::HighlightedText, QColor(0xFC, 0xFC, 0xFC)}};
    for (const auto& [role, color] : roles)
        p.setColor(role, color);
    return p;
}

QPalette greyLightPalette() {  // a light theme whose window is far from white
    QPalette p = QStyleFactory::create(QStringLiteral("Fusion"))->standardPalette();
    p.setColor(QPalette::Window, QColor(0xD6, 0xD6, 0xD6));
    p.setColor(QPalette::Base, QColor(0xE4, 0xE4, 0xE4));
    p.setColor(QPalette::Text, QColor(0x31, 0x36, 0x3B));
    return p;
}

TEST(ContrastTest, TheBadgeAndTheDetailTextAreReadableInLightAndDarkPalettes) {
    EXPECT_NEAR(contrastRatio(QColor(0xFF, 0x95, 0x00), QColor(0xEF, 0xEF, 0xEF)), 1.9, 0.1) << "the ratio as WCAG counts it";
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    const std::pair<const char*, QPalette> palettes[] = {
        {"Fusion light", QStyleFactory::create(QStringLiteral("Fusion"))->standardPalette()},
        {"grey light", greyLightPalette()},
        {"dark", darkPalette()}};
    for (const auto& [name, palette] : palettes) {
        SCOPED_TRACE(name);
        EXPECT_GE(contrastRatio(badgeColor(palette), palette.color(QPalette::Window)), 4.5);
        EXPECT_GE(contrastRatio(detailTextColor(palette), palette.color(QPalette::Base)), 4.5);
        // Still a secondary text: fainter than the main text.
        EXPECT_LT(contrastRatio(detailTextColor(palette), palette.color(QPalette::Base)),
                  contrastRatio(palette.color(QPalette::Text), palette.color(QPalette::Base)));

        QApplication::setPalette(palette);
        BatchRun run;
        ContentView view(run);
        const QRegularExpressionMatch color =
            QRegularExpression(QStringLiteral("color: (#[0-9a-f]{6})")).match(view.badge()->styleSheet());
        ASSERT_TRUE(color.hasMatch()) << view.badge()->styleSheet().toStdString();
        EXPECT_GE(contrastRatio(QColor(color.captured(1)), view.palette().color(QPalette::Window)), 4.5);
    }
    QApplication::setPalette(QStyleFactory::create(QStringLiteral("Fusion"))->standardPalette());

    const QFont previous = QApplication::font();
    for (const qreal size : {7.0, 10.0, 14.0}) {
        QFont font = previous;
        font.setPointSizeF(size);
        QApplication::setFont(font);
        EXPECT_GE(detailFont().pointSizeF(), 9.0) << size;
        EXPECT_LE(detailFont().pointSizeF(), std::max(9.0, size)) << size;
    }
    QApplication::setFont(previous);
}

TEST(HelpTest, AboutNamesVersionLicenseHomePageAndLibrariesAndTheManualHasAFallback) {
    const QString about = aboutText();
    for (const QString& part : {QStringLiteral(MERIDANE_VERSION), QStringLiteral("GPL-3.0-or-later"),
                                QStringLiteral("https://meridane.example"), QStringLiteral("Qt ") + qVersion(),
                                QStringLiteral("libxml2 2."), QStringLiteral("zlib 1.")})
        EXPECT_TRUE(about.contains(part)) << part.toStdString() << " in " << about.toStdString();

    MainWindow window(new UpdateChecker(QUrl(), QStringLiteral("0.1.0")));
    QMenu* help = window.menuBar()->findChild<QMenu*>(QStringLiteral("helpMenu"));
    ASSERT_NE(help, nullptr);
    ASSERT_FALSE(help->actions().isEmpty());
    EXPECT_EQ(help->actions().first()->shortcut(), QKeySequence(Qt::Key_F1));

    std::vector<QString> opened;
    EXPECT_TRUE(showManual(window, [&](const QString& url) { return opened.push_back(url), true; }));
    EXPECT_EQ(opened, std::vector<QString>{"man:meridane"});
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    EXPECT_FALSE(showManual(window, [](const QString&) { return false; }));
    EXPECT_EQ(shown, manualFallbackText());
    EXPECT_TRUE(shown.contains("man meridane"));
}

TEST(HelpTest, CtrlWAndCtrlQCloseTheWindowAndAskDuringARun) {
    for (const QKeyCombination key : {Qt::CTRL | Qt::Key_W, Qt::CTRL | Qt::Key_Q}) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        MainWindow window(new UpdateChecker(QUrl(), QStringLiteral("0.1.0")));
        FakeRun fake(&window.run());
        int asked = 0;
        window.setStopQuestion([&] { return ++asked, false; });
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        ASSERT_TRUE(window.content()->handleDrop({"/p/hold1.heic"}));
        QTest::keyClick(&window, key.key(), key.keyboardModifiers());
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(window.isVisible());
        fake.release();
        ASSERT_TRUE(waitForRunToFinish(window.run()));
        QTest::keyClick(&window, key.key(), key.keyboardModifiers());
        EXPECT_FALSE(window.isVisible());
    }
}

// The window's standard output goes to the session's journal when it is
// started from a menu: the lines of every decision only when asked for.
TEST(DebugOutputTest, TheWindowWritesDebugLinesOnlyWhenAskedTo) {
    TempDir dir;
    writePhoto(dir / "IMG_0001", kNeedsLettersXml);
    const auto start = [&](const std::string& flag, const std::string& debugVariable) {
        std::vector<std::string> argv = {MERIDANE_APP_PATH, "--screenshot", (dir / "shot.png").string()};
        if (!flag.empty())
            argv.push_back(flag);
        argv.push_back((dir / "IMG_0001.HEIC").string());
        RunOptions options;
        options.environment = {"QT_QPA_PLATFORM=offscreen", "MERIDANE_DEBUG=" + debugVariable,
                               "XDG_CONFIG_HOME=" + (dir / "config").string()};
        return runProcess(argv, options);
    };
    const RunResult quiet = start("", "");
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.out.find("[DEBUG]"), std::string::npos) << quiet.out;
    EXPECT_EQ(quiet.err.find("[DEBUG]"), std::string::npos) << quiet.err;
    for (const auto& [flag, variable] : {std::pair{"--debug", ""}, std::pair{"", "1"}}) {
        const RunResult told = start(flag, variable);
        ASSERT_EQ(told.exitCode, 0) << told.err;
        EXPECT_NE(told.out.find("[DEBUG] Processing IMG_0001.HEIC"), std::string::npos) << told.out;
        // What the desktop entry promises for a photo opened with Meridane.
        EXPECT_NE(told.out.find("[DEBUG] Dry run \u2014 would update IMG_0001.HEIC"), std::string::npos);
    }
    EXPECT_EQ(readFile(dir / "IMG_0001.xmp"), kNeedsLettersXml) << "opening a photo only dry-runs it";
}

}  // namespace
}  // namespace meridane::ui
