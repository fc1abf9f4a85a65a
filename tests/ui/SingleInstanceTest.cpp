// SPDX-License-Identifier: GPL-3.0-or-later
// One window per session: a second start of the program hands its paths to
// the window already open, over the session bus, and ends.
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/SingleInstance.h"
#include "ui/UpdateChecker.h"

#include <QDBusConnection>
#include <QTest>

#include <gtest/gtest.h>

#include <future>

namespace meridane::ui {
namespace {

using namespace meridane::testing;

TEST(SingleInstanceTest, ASecondStartHandsItsPathsToTheFirstWindowAndEnds) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "no D-Bus session bus; run the tests under dbus-run-session";
    MainWindow window(new UpdateChecker(QUrl(), QStringLiteral("0.1.0")));
    FakeRun fake(&window.run());
    window.run().setRunsFolder({});
    SingleInstance first(bus);
    std::vector<std::filesystem::path> handed;
    if (!first.registerAsPrimary([&](const auto& paths, const QString&) {
            handed = paths;
            window.content()->handleDrop(paths);
        }))
        GTEST_SKIP() << "a Meridane window is open on this session bus";

    TempDir dir;
    const std::filesystem::path latin1 = dir / "caf\xE9.heic";  // a name that is not UTF-8
    // Started from another thread: this one's event loop answers the call
    // the second start makes and waits for. Bytes, not texts, as arguments.
    auto second = std::async(std::launch::async, [&] {
        RunOptions options;
        options.timeout = std::chrono::seconds(20);
        options.environment = {"QT_QPA_PLATFORM=offscreen"};
        return runProcess({MERIDANE_BINARY, (dir / "b.heic").native(), latin1.native()}, options);
    });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return second.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30000));
    const RunResult ended = second.get();
    EXPECT_FALSE(ended.timedOut) << "the second start opened a window of its own";
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    ASSERT_TRUE(waitForRunToFinish(window.run()));
    EXPECT_EQ(handed, (std::vector<std::filesystem::path>{dir / "b.heic", latin1}));
    EXPECT_EQ(window.run().totalCount(), 2);
}

}  // namespace
}  // namespace meridane::ui
