// SPDX-License-Identifier: GPL-3.0-or-later
// The Settings menu: its choices reach the run's options, are remembered,
// and a new window starts with them.
#include "TestSupport.h"
#include "engine/BatchRun.h"
#include "ui/MainWindow.h"
#include "ui/SettingsMenu.h"
#include "ui/UpdateChecker.h"

#include <QAction>
#include <QMenuBar>
#include <QSettings>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace meridane::ui {
namespace {

class SettingsMenuTest : public ::testing::Test {
protected:
    SettingsMenuTest() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    }
    ~SettingsMenuTest() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    }
    static QAction* action(const QMenu& menu, const char* name) {
        return menu.findChild<QAction*>(QString::fromLatin1(name));
    }
    testing::TempDir dir_;
};

TEST_F(SettingsMenuTest, ChoicesReachTheOptionsAndAreRememberedForTheNextWindow) {
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
}

}  // namespace
}  // namespace meridane::ui
