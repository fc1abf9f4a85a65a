// The update check: versions, the release feed, and whole checks against a
// tiny HTTP server on the loopback interface.
#include "ui/MainWindow.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdatesViewModel.h"

#include <QAction>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace meridane::ui {
namespace {

struct VersionCase {
    const char* name;
    const char* a;
    const char* b;
    int expected;  // sign of compareVersions(a, b)
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class CompareVersionsTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(CompareVersionsTest, OrdersAsReleasesFollowEachOther) {
    const auto& c = GetParam();
    const int result = compareVersions(QString::fromLatin1(c.a), QString::fromLatin1(c.b));
    EXPECT_EQ((result > 0) - (result < 0), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, CompareVersionsTest,
    ::testing::Values(VersionCase{"Equal", "0.1.0", "0.1.0", 0}, VersionCase{"NewerPatch", "0.1.1", "0.1.0", 1},
                      VersionCase{"NumbersNotText", "0.10.0", "0.9.0", 1},
                      VersionCase{"MissingPartsAreZero", "1.0", "1.0.0", 0},
                      VersionCase{"OlderMajor", "0.9.9", "1.0.0", -1},
                      VersionCase{"PreReleaseBeforeRelease", "0.2.0-beta", "0.2.0", -1},
                      VersionCase{"PreReleaseAfterOlderRelease", "0.2.0-beta", "0.1.9", 1},
                      VersionCase{"PreReleasesByLabel", "0.2.0-rc.1", "0.2.0-beta", 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct FeedCase {
    const char* name;
    const char* json;
    bool valid;
};

void PrintTo(const FeedCase& c, std::ostream* os) { *os << c.name; }

class ParseReleaseFeedTest : public ::testing::TestWithParam<FeedCase> {};

TEST_P(ParseReleaseFeedTest, AcceptsOnlyAVersionWithAWebPage) {
    const auto& c = GetParam();
    QString error;
    const auto feed = parseReleaseFeed(QByteArray(c.json), &error);
    EXPECT_EQ(feed.has_value(), c.valid) << error.toStdString();
    EXPECT_EQ(error.isEmpty(), c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, ParseReleaseFeedTest,
    ::testing::Values(
        FeedCase{"Complete", R"({"version":"0.2.0","url":"https://example.org/download","notes":"Faster."})", true},
        FeedCase{"WithoutNotes", R"({"version":"1.0","url":"https://example.org/d"})", true},
        FeedCase{"NotJson", "<html>oops</html>", false}, FeedCase{"Array", R"(["0.2.0"])", false},
        FeedCase{"NoVersion", R"({"url":"https://example.org/d"})", false},
        FeedCase{"VersionNotANumber", R"({"version":"latest","url":"https://example.org/d"})", false},
        FeedCase{"VersionAsNumber", R"({"version":2,"url":"https://example.org/d"})", false},
        FeedCase{"NoUrl", R"({"version":"0.2.0"})", false},
        FeedCase{"FileUrl", R"({"version":"0.2.0","url":"file:///etc/passwd"})", false},
        FeedCase{"ScriptUrl", R"j({"version":"0.2.0","url":"javascript:alert(1)"})j", false}),
    [](const auto& info) { return std::string(info.param.name); });

/// Answers every request with one canned HTTP response, or never answers.
class TinyHttpServer : public QObject {
public:
    explicit TinyHttpServer(std::optional<QByteArray> response) : response_(std::move(response)) {
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                socket->setParent(this);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request_ += socket->readAll();
                    if (!request_.contains("\r\n\r\n") || !response_)
                        return;
                    socket->write(*response_);
                    socket->disconnectFromHost();
                });
            }
        });
        server_.listen(QHostAddress::LocalHost);
    }

    static QByteArray ok(const QByteArray& body, int status = 200) {
        return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: application/json\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/feed.json").arg(server_.serverPort()));
    }
    const QByteArray& request() const { return request_; }

private:
    QTcpServer server_;
    std::optional<QByteArray> response_;
    QByteArray request_;
};

UpdateCheckOutcome checkAgainst(const QUrl& feed, const QString& current, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    UpdateChecker checker(feed, current);
    checker.setTimeout(timeout);
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    checker.check();
    EXPECT_TRUE(finished.wait(10000));
    if (finished.isEmpty())
        return {};
    return finished.first().first().value<UpdateCheckOutcome>();
}

TEST(UpdateCheckTest, SameVersionIsUpToDate) {
    TinyHttpServer server(TinyHttpServer::ok(R"({"version":"0.1.0","url":"https://example.org/d"})"));
    const UpdateCheckOutcome outcome = checkAgainst(server.url(), "0.1.0");
    EXPECT_EQ(outcome.kind, UpdateCheckOutcome::Kind::upToDate) << outcome.error.toStdString();
    EXPECT_TRUE(server.request().startsWith("GET /feed.json"));
    EXPECT_TRUE(server.request().contains("User-Agent: Meridane/0.1.0"));
}

TEST(UpdateCheckTest, OlderFeedVersionIsUpToDate) {
    TinyHttpServer server(TinyHttpServer::ok(R"({"version":"0.0.9","url":"https://example.org/d"})"));
    EXPECT_EQ(checkAgainst(server.url(), "0.1.0").kind, UpdateCheckOutcome::Kind::upToDate);
}

TEST(UpdateCheckTest, NewerVersionIsOfferedWithItsDownloadPage) {
    TinyHttpServer server(
        TinyHttpServer::ok(R"({"version":"0.2.0","url":"https://example.org/download","notes":"Faster."})"));
    const UpdateCheckOutcome outcome = checkAgainst(server.url(), "0.1.0");
    ASSERT_EQ(outcome.kind, UpdateCheckOutcome::Kind::updateAvailable) << outcome.error.toStdString();
    EXPECT_EQ(outcome.latest.version, "0.2.0");
    EXPECT_EQ(outcome.latest.url, QUrl("https://example.org/download"));
    EXPECT_EQ(outcome.latest.notes, "Faster.");
}

TEST(UpdateCheckTest, BrokenFeedIsReportedAsAFailure) {
    TinyHttpServer server(TinyHttpServer::ok("{\"version\": \"0.2"));
    const UpdateCheckOutcome outcome = checkAgainst(server.url(), "0.1.0");
    EXPECT_EQ(outcome.kind, UpdateCheckOutcome::Kind::failed);
    EXPECT_EQ(outcome.error, "The release feed is not a JSON object.");
}

TEST(UpdateCheckTest, HttpErrorIsReportedWithItsStatus) {
    TinyHttpServer server(TinyHttpServer::ok("not here", 404));
    const UpdateCheckOutcome outcome = checkAgainst(server.url(), "0.1.0");
    EXPECT_EQ(outcome.kind, UpdateCheckOutcome::Kind::failed);
    EXPECT_EQ(outcome.error, "The update server answered with HTTP status 404.");
}

TEST(UpdateCheckTest, OversizedFeedIsRefused) {
    TinyHttpServer server(TinyHttpServer::ok(QByteArray(200 * 1024, ' ') + R"({"version":"9.0.0","url":"https://e.org/"})"));
    const UpdateCheckOutcome outcome = checkAgainst(server.url(), "0.1.0");
    EXPECT_EQ(outcome.kind, UpdateCheckOutcome::Kind::failed);
    EXPECT_EQ(outcome.error, "The release feed is too large.");
}

TEST(UpdateCheckTest, ServerThatNeverAnswersTimesOut) {
    TinyHttpServer server(std::nullopt);
    QElapsedTimer clock;
    clock.start();
    const UpdateCheckOutcome outcome = checkAgainst(server.url(), "0.1.0", std::chrono::milliseconds(300));
    EXPECT_EQ(outcome.kind, UpdateCheckOutcome::Kind::failed);
    EXPECT_EQ(outcome.error, "The update server did not answer in time.");
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST(UpdateCheckTest, ClosedPortIsReportedAsUnreachable) {
    QTcpServer reserve;
    ASSERT_TRUE(reserve.listen(QHostAddress::LocalHost));
    const quint16 port = reserve.serverPort();
    reserve.close();
    const UpdateCheckOutcome outcome = checkAgainst(QUrl(QStringLiteral("http://127.0.0.1:%1/f").arg(port)), "0.1.0");
    EXPECT_EQ(outcome.kind, UpdateCheckOutcome::Kind::failed);
    EXPECT_TRUE(outcome.error.startsWith("The update server could not be reached: ")) << outcome.error.toStdString();
}

TEST(UpdateCheckTest, FeedAddressComesFromTheEnvironmentFirst) {
    qputenv("MERIDANE_UPDATE_FEED", "http://127.0.0.1:9/feed.json");
    EXPECT_EQ(updateFeedUrl(), QUrl("http://127.0.0.1:9/feed.json"));
    qunsetenv("MERIDANE_UPDATE_FEED");
    EXPECT_EQ(updateFeedUrl().scheme(), "https");
}

struct MessageCase {
    const char* name;
    UpdateCheckOutcome outcome;
    const char* title;
    const char* text;
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }

class UpdateMessageTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(UpdateMessageTest, SaysPlainlyWhatTheCheckFound) {
    const auto& c = GetParam();
    const UpdateMessage message = updateMessage(c.outcome);
    EXPECT_EQ(message.title.toStdString(), c.title);
    EXPECT_EQ(message.text.toStdString(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, UpdateMessageTest,
    ::testing::Values(
        MessageCase{"UpToDate", {UpdateCheckOutcome::Kind::upToDate, "0.1.0", {"0.1.0", {}, {}}, {}},
                    "You\u2019re up to date", "Meridane 0.1.0 is the newest version available."},
        MessageCase{"Newer",
                    {UpdateCheckOutcome::Kind::updateAvailable, "0.1.0", {"0.2.0", QUrl("https://e.org"), {}}, {}},
                    "A new version of Meridane is available",
                    "Meridane 0.2.0 is available \u2014 you have 0.1.0. Would you like to open its download page?"},
        MessageCase{"Failed", {UpdateCheckOutcome::Kind::failed, "0.1.0", {}, "The release feed is too large."},
                    "Update check failed", "Meridane could not check for updates. The release feed is too large."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateMenuTest, CheckForUpdatesSitsInTheApplicationMenuWithCtrlAltU) {
    MainWindow window(new UpdateChecker(QUrl(QStringLiteral("http://127.0.0.1:9/")), QStringLiteral("0.1.0")));
    QAction* action = window.checkForUpdatesAction();
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), QStringLiteral("Check for Updates\u2026"));
    EXPECT_EQ(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+U")));
}

TEST(UpdateMenuTest, ChoosingTheItemShowsTheAnswerWithoutBlockingTheWindow) {
    TinyHttpServer server(TinyHttpServer::ok(R"({"version":"0.3.0","url":"https://example.org/d"})"));
    MainWindow window(new UpdateChecker(server.url(), QStringLiteral("0.1.0")));
    window.show();
    QSignalSpy answered(window.updates(), &UpdatesViewModel::answered);
    window.checkForUpdatesAction()->trigger();
    // The menu item rests while a check is under way.
    EXPECT_FALSE(window.checkForUpdatesAction()->isEnabled());
    ASSERT_TRUE(answered.wait(10000));
    EXPECT_TRUE(window.checkForUpdatesAction()->isEnabled());
    QMessageBox* box = window.updates()->messageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->text(), "A new version of Meridane is available");
    EXPECT_TRUE(box->informativeText().startsWith("Meridane 0.3.0 is available"));
    box->close();
}

}  // namespace
}  // namespace meridane::ui
