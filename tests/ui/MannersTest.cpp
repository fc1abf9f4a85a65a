// SPDX-License-Identifier: GPL-3.0-or-later
// What the window says beyond its rows: the message bar, reading contrast,
// the Help and Settings menus, and its quiet standard output.
#include "SidecarBuilder.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "access/SidecarAccess.h"
#include "engine/FolderAccessPrompt.h"
#include "ui/HelpMenu.h"
#include "ui/MessageBar.h"
#include "ui/PathText.h"
#include "ui/SettingsMenu.h"
#include "ui/UiStyle.h"
#include "ui/WindowMessages.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>
#include <QToolButton>

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
    QString messages() { return view.messageBar()->messages().join(" | "); }

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
    const QString writable = line(0).mid(line(0).indexOf(':'));
    const auto before = treeOf(dir / "card");
    ASSERT_TRUE(runFiles({dir / "card"}));
    EXPECT_EQ(prompt.asked, 0);
    ASSERT_EQ(lines().size(), 4);
    for (const QString& row : lines())
        EXPECT_EQ(row.mid(row.indexOf(':')), writable) << row.toStdString();
    EXPECT_EQ(messages(), "");
    EXPECT_EQ(treeOf(dir / "card"), before);

    run.setFolderAccessPrompt(nullptr);
    run.setOptions({.dryRun = false});
    ASSERT_TRUE(runFiles({dir / "card"}));
    const QString dcimText = "Cannot write to folder " + pathText(dcim) + ": read-only file system";
    const QString miscText = "Cannot write to folder " + pathText(misc) + ": read-only file system";
    ASSERT_EQ(lines().size(), 4);
    for (const QString& row : lines())  // the row's own text is the pipeline's
        EXPECT_TRUE(row.endsWith(": Failed: " + (row.startsWith("IMG_0004") ? miscText : dcimText))) << row.toStdString();
    EXPECT_EQ(messages(), dcimText + " \u2014 3 sidecars not updated.\n" + miscText + " \u2014 1 sidecar not updated.");
    EXPECT_EQ(view.messageBar()->kind(), MessageBar::Kind::error);
    EXPECT_EQ(treeOf(dir / "card"), before);
}

// Outside a sandbox no dialog can give this process access it lacks.
using FolderQuestionTest = RealWindowTest;

TEST_F(FolderQuestionTest, TheWindowAsksNothingOutsideASandbox) {
    if (folderGrantsCanGiveAccess())
        GTEST_SKIP() << "inside a sandbox the window asks, through the portal";
    TempDir dir;
    writePhoto(dir / "IMG_0001", kNeedsLettersXml);
    ScopedPathAccessCheck readOnly([&](const fs::path& p, int mode) { return errno = EACCES, !(mode == W_OK && p == dir.path()); });
    window.run().setRunsFolder(dir / "runs");
    window.run().setOptions({.dryRun = false});
    int dialogs = 0;
    QTimer watchdog;  // a question would block the run: answer it and count it
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget())
            ++dialogs, modal->close();
    });
    watchdog.start(50);
    ASSERT_TRUE(runFiles({dir / "IMG_0001.HEIC"}));
    EXPECT_EQ(dialogs, 0);
    ASSERT_EQ(window.run().results().size(), 1u);
    EXPECT_EQ(window.run().results()[0].result,
              ProcessingResult::failed("Cannot write to folder " + dir.path().string() + ": permission denied"));
    EXPECT_EQ(window.content()->messageBar()->messages().size(), 1);
}

TEST_F(MessagesTest, ADropWithNothingToProcessKeepsTheResultsAndSaysWhy) {
    writePhoto(dir / "photos/IMG_0001", kNeedsLettersXml);
    ASSERT_TRUE(runFiles({dir / "photos"}));
    const QStringList kept = lines();
    ASSERT_EQ(kept.size(), 1);

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
    EXPECT_EQ(lines(), kept);
    EXPECT_EQ(messages(), expected.join(" | "));

    // A drop that processes something clears what the last one said.
    fs::create_directories(dir / "empty/sub");
    writeFile(dir / "empty/notes.txt", "x");
    ASSERT_TRUE(runFiles({dir / "empty"}));
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(messages(), "No photos in folder " + pathText(dir / "empty") + ".");
    EXPECT_EQ(unsupportedText(1, {"PDF"}), "1 file is not a supported photo (PDF). Meridane reads HEIC, HEIF and DNG.");
    EXPECT_EQ(noPhotosText({"/a", "/b"}), "No photos in the 2 dropped folders.");
    fs::permissions(dir / "locked", fs::perms::owner_all);
}

TEST_F(MessagesTest, CopiesAndFailedRevealsAreSaidAndTheBarCloses) {
    writePhoto(dir / "IMG_0001", kNeedsLettersXml);
    ASSERT_TRUE(runFiles({dir / "IMG_0001.HEIC"}));
    section().copyAllResults();
    EXPECT_EQ(messages(), "Copied");
    EXPECT_EQ(view.messageBar()->kind(), MessageBar::Kind::positive);
    Q_EMIT section().revealFailed(QStringLiteral("Cannot reveal \u201Cx\u201D: no file manager is installed."));
    EXPECT_EQ(view.messageBar()->messages().size(), 2);
    view.messageBar()->closeButton()->click();
    EXPECT_FALSE(view.messageBar()->isVisible());
}

QPalette withColors(QPalette p, std::initializer_list<std::pair<QPalette::ColorRole, QRgb>> colors) {
    for (const auto& [role, color] : colors)
        p.setColor(role, QColor(color));
    return p;
}

TEST(ContrastTest, TheBadgeAndTheDetailTextAreReadableInLightAndDarkPalettes) {
    EXPECT_NEAR(contrastRatio(QColor(0xFF, 0x95, 0x00), QColor(0xEF, 0xEF, 0xEF)), 1.9, 0.1) << "the ratio as WCAG counts it";
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    const QPalette fusion = QStyleFactory::create(QStringLiteral("Fusion"))->standardPalette();
    const QRgb white = 0xFCFCFC;
    const std::pair<const char*, QPalette> palettes[] = {
        {"Fusion light", fusion},
        {"grey light",
         withColors(fusion, {{QPalette::Window, 0xD6D6D6}, {QPalette::Base, 0xE4E4E4}, {QPalette::Text, 0x31363B}})},
        {"dark", withColors(QPalette(), {{QPalette::Window, 0x202326}, {QPalette::WindowText, white},
                                         {QPalette::Base, 0x141618}, {QPalette::Text, white},
                                         {QPalette::Button, 0x292C30}, {QPalette::ButtonText, white},
                                         {QPalette::Highlight, 0x3DAEE9}, {QPalette::HighlightedText, white}})}};
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
    QApplication::setPalette(fusion);

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

// The window's standard output goes to the session's journal when it is
// started from a menu: the lines of every decision only when asked for.
TEST(DebugOutputTest, TheWindowWritesDebugLinesOnlyWhenAskedTo) {
    TempDir dir;
    writePhoto(dir / "IMG_0001", kNeedsLettersXml);
    const auto start = [&](const std::string& flag, const std::string& debugVariable) {
        const std::string photo = (dir / "IMG_0001.HEIC").string();
        return runProcess({MERIDANE_APP_PATH, "--screenshot", (dir / "shot.png").string(), flag, photo},
                          {.environment = {"QT_QPA_PLATFORM=offscreen", "MERIDANE_DEBUG=" + debugVariable,
                                           "XDG_CONFIG_HOME=" + (dir / "config").string()},
                           .interruptWhenErrShows = {}});
    };
    const RunResult quiet = start("--", "");
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.out.find("[DEBUG]"), std::string::npos) << quiet.out;
    EXPECT_EQ(quiet.err.find("[DEBUG]"), std::string::npos) << quiet.err;
    for (const auto& [flag, variable] : {std::pair{"--debug", ""}, std::pair{"--", "1"}}) {
        const RunResult told = start(flag, variable);
        ASSERT_EQ(told.exitCode, 0) << told.err;
        EXPECT_NE(told.out.find("[DEBUG] Processing IMG_0001.HEIC"), std::string::npos) << told.out;
        // What the desktop entry promises for a photo opened with Meridane.
        EXPECT_NE(told.out.find("[DEBUG] Dry run \u2014 would update IMG_0001.HEIC"), std::string::npos);
    }
    EXPECT_EQ(readFile(dir / "IMG_0001.xmp"), kNeedsLettersXml) << "opening a photo only dry-runs it";
}

class MenuTest : public ::testing::Test {
protected:
    MenuTest() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    }
    ~MenuTest() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    }
    static QAction* action(const QMenu& menu, const char* name) {
        return menu.findChild<QAction*>(QString::fromLatin1(name));
    }
    TempDir dir_;
};

TEST_F(MenuTest, SettingsAreRememberedForTheNextWindowWhoseHelpHasAboutAndTheManual) {
    {
        BatchRun run;
        SettingsMenu menu(run, nullptr);
        EXPECT_EQ(run.options(), ProcessingOptionValues{}) << "the defaults without a remembered choice";
        EXPECT_TRUE(action(menu, "decimalDegrees")->isChecked());
        EXPECT_TRUE(action(menu, "sidecarStemName")->isChecked());
        action(menu, "degreesMinutes")->trigger();
        action(menu, "sidecarFullName")->trigger();
        EXPECT_EQ(run.options().coordinateFormat, CoordinateFormat::dm);
        EXPECT_EQ(run.options().sidecarNaming, SidecarNaming::full);
        EXPECT_TRUE(run.options().dryRun) << "the other options stay";
        EXPECT_FALSE(action(menu, "decimalDegrees")->isChecked());
    }
    EXPECT_EQ(QSettings().value(QStringLiteral("processing/coordinateFormat")).toString(), QStringLiteral("dm"));

    MainWindow window(new UpdateChecker(QUrl(), QStringLiteral("0.1.0")));
    const auto* menu = window.findChild<QMenu*>(QStringLiteral("settingsMenu"));
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(window.menuBar()->actions().contains(menu->menuAction()));
    EXPECT_TRUE(action(*menu, "degreesMinutes")->isChecked());
    EXPECT_TRUE(action(*menu, "sidecarFullName")->isChecked());
    action(*menu, "sidecarStemName")->trigger();
    EXPECT_EQ(QSettings().value(QStringLiteral("processing/sidecarName")).toString(), QStringLiteral("stem"));

    QSettings().setValue(QStringLiteral("processing/coordinateFormat"), QStringLiteral("sexagesimal"));
    BatchRun run;
    SettingsMenu again(run, nullptr);
    EXPECT_EQ(run.options().coordinateFormat, CoordinateFormat::decimal) << "an unknown value keeps the default";

    const QString about = aboutText();
    for (const QString& part : {QStringLiteral(MERIDANE_VERSION), QStringLiteral("GPL-3.0-or-later"),
                                QStringLiteral("https://meridane.example"), QStringLiteral("Qt ") + qVersion(),
                                QStringLiteral("libxml2 2."), QStringLiteral("zlib 1.")})
        EXPECT_TRUE(about.contains(part)) << part.toStdString() << " in " << about.toStdString();

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

}  // namespace
}  // namespace meridane::ui
