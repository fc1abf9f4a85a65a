// SPDX-License-Identifier: GPL-3.0-or-later
// What the window asks of the desktop and the network: the file manager, the
// notification's text, one window per session over the session bus, and the
// update check against a tiny HTTP server on the loopback interface.
#include "SidecarBuilder.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "ui/FileManagerReveal.h"
#include "ui/PathText.h"
#include "ui/RunNotification.h"
#include "ui/SingleInstance.h"
#include "ui/UpdatesViewModel.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <future>

namespace meridane::ui {
namespace {

using namespace meridane::testing;

TEST(DesktopTest, RevealNamesTheExactFileAndTheNotificationCountsTheRun) {
    TempDir photos;
    std::filesystem::create_directory(photos / "caf\xE9");
    writeFile(photos / "caf\xE9/IMG 1.HEIC", "x");
    std::vector<QUrl> opened;
    QString failure;  // what the desktop answers when asked to open a folder
    FileManagerReveal reveal(QDBusConnection(QStringLiteral("no bus")), [&](const QUrl& f, auto done) {
        opened.push_back(f);
        done(failure);
    });
    QSignalSpy failed(&reveal, &FileManagerReveal::revealFailed);
    reveal.reveal(photos / "caf\xE9/IMG 1.HEIC");  // no file manager on the bus: its folder opens
    EXPECT_EQ(opened, std::vector<QUrl>{fileUrl(photos / "caf\xE9")});
    EXPECT_EQ(fileUrl("/photos/caf\xE9/IMG 1.HEIC").toEncoded(), "file:///photos/caf%E9/IMG%201.HEIC");
    EXPECT_EQ(failed.count(), 0);
    // Nothing opens folders, or the file went: said, not swallowed.
    failure = QStringLiteral("no file manager is installed");
    reveal.reveal(photos / "caf\xE9/IMG 1.HEIC");
    reveal.reveal(photos / "gone.HEIC");
    ASSERT_EQ(failed.count(), 2);
    EXPECT_EQ(failed.at(0).at(0).toString(),
              QStringLiteral("Cannot reveal \u201CIMG 1.HEIC\u201D: no file manager is installed."));
    EXPECT_EQ(failed.at(1).at(0).toString(), QStringLiteral("Cannot reveal \u201Cgone.HEIC\u201D: the file is no longer there."));
    EXPECT_EQ(opened.size(), 2u);

    FakeRun fake;
    ASSERT_TRUE(fake.run().processPaths({"/p/a.heic", "/p/failed.heic", "/p/b.heic"}) && waitForRunToFinish(fake.run()));
    EXPECT_EQ(runSummary(fake.run()), "Meridane finished the dry run: 2 would update, 1 failed");

    const std::filesystem::path photo = writePhoto(photos / "IMG_0001", kNeedsLettersXml);  // a real write, then its undo
    BatchRun run;
    run.setRunsFolder(photos / "runs");
    run.setOptions({.dryRun = false});
    ASSERT_TRUE(run.processPaths({photo}) && waitForRunToFinish(run));
    ASSERT_TRUE(run.undoRun(run.lastJournal().id) && waitForRunToFinish(run));
    EXPECT_EQ(runSummary(run), "Meridane finished the undo: 1 restored, 0 not restored, 0 failed");
}

using SingleInstanceTest = MainWindowTest;

TEST_F(SingleInstanceTest, ASecondStartHandsItsPathsToTheFirstWindowAndEnds) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "no D-Bus session bus; run the tests under dbus-run-session";
    SingleInstance first(bus);
    Paths handed;
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
    EXPECT_EQ(handed, (Paths{dir / "b.heic", latin1}));
    EXPECT_EQ(window.run().totalCount(), 2);
}

/// Answers each request with `response`, one byte every `trickleMs` if set.
class TinyHttpServer : public QTcpServer {
public:
    explicit TinyHttpServer(const QByteArray& response, int trickleMs = 0) : response_(response) {
        connect(this, &QTcpServer::newConnection, this, [this, trickleMs] {
            QTcpSocket* socket = nextPendingConnection();
            auto* timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [socket, response = response_, timer, sent = qsizetype(0)]() mutable {
                const qsizetype size = timer->interval() ? 1 : response.size();
                socket->write(response.mid(sent, size));
                if ((sent += size) >= response.size())
                    timer->stop();
            });
            timer->start(trickleMs);
        });
        listen(QHostAddress::LocalHost);
    }
    /// For answers that name the server's own address.
    void answer(const QByteArray& response) { response_ = response; }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/feed.json").arg(serverPort())); }

private:
    QByteArray response_;
};

UpdateCheckOutcome checkAgainst(const QUrl& feed, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    UpdateChecker checker(feed, QStringLiteral("0.1.0"));
    checker.setTimeout(deadline);
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    checker.check();
    EXPECT_TRUE(finished.wait(10000));
    return finished.isEmpty() ? UpdateCheckOutcome{} : finished.first().first().value<UpdateCheckOutcome>();
}

TEST(UpdateCheckTest, OneDeadlineHttpsOnlyAndNoRequestWithoutAFeed) {
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 60\r\nConnection: close\r\n\r\n";
    TinyHttpServer newer(head + R"({"version":"0.2.0","url":"https://e.org/download"}          )");
    EXPECT_EQ(checkAgainst(newer.url()).latest.url, QUrl("https://e.org/download"));
    TinyHttpServer trickle(head + QByteArray(60, ' '), 50);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(checkAgainst(trickle.url(), std::chrono::milliseconds(600)).error, "The update server did not answer in time.");
    EXPECT_LT(clock.elapsed(), 2500);

    EXPECT_EQ(checkAgainst(QUrl("http://example.org/f")).error, "The update feed address is not an https address.");
    const QString noPage = QStringLiteral("The release feed does not name a valid https download page.");
    const std::pair<QByteArray, QString> refused[] = {
        {"HTTP/1.1 302 Found\r\nLocation: http://example.org/f\r\nContent-Length: 0\r\n\r\n",
         "The update server redirected to an address that is not https."},
        {head + R"({"version":"0.2.0","url":"http://e.org/download"}           )", noPage},
        {head + R"({"version":"0.2.0","url":"http://127.0.0.1/get"}            )", noPage}};
    for (const auto& [response, error] : refused) {
        TinyHttpServer server(response);
        EXPECT_EQ(checkAgainst(server.url()).error, error) << response.toStdString();
    }
    TinyHttpServer loop("");
    loop.answer("HTTP/1.1 302 Found\r\nLocation: " + loop.url().toEncoded() + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(checkAgainst(loop.url()).error.toStdString(), "The update server sent too many redirects.");

    const UpdateCheckOutcome none = checkAgainst(QUrl());
    EXPECT_EQ(none.kind, UpdateCheckOutcome::Kind::noFeed);
    EXPECT_EQ(updateMessage(none).text, "This build has no update feed. Updates come with your package manager.");
}

}  // namespace
}  // namespace meridane::ui
