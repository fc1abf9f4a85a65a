// SPDX-License-Identifier: GPL-3.0-or-later
// Answers a user's "Check for Updates…": fetches our small release feed
// (JSON: {"version": "0.2.0", "url": "https://…", "notes": "…"}) and compares
// its version with the running one. Nothing here blocks the GUI thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace meridane::ui {

struct ReleaseFeed {
    QString version;
    QUrl url;  ///< the download page
    QString notes;
};

/// The feed's release, or none with a reason in *error.
std::optional<ReleaseFeed> parseReleaseFeed(const QByteArray& json, QString* error);

/// Whether a text is a version we understand: 1 to 4 dot-separated numbers,
/// optionally followed by "-" and a pre-release label.
bool isValidVersion(QStringView version);

/// Negative, zero or positive as a is older than, the same as or newer than b.
/// Numbers compare numerically, missing ones count as 0, and a pre-release
/// comes before its release (0.2.0-beta < 0.2.0).
int compareVersions(QStringView a, QStringView b);

/// Whether an address may be asked for the feed or opened as the download
/// page: https, or plain http to this machine's loopback interface.
bool isAllowedUpdateAddress(const QUrl& url);

struct UpdateCheckOutcome {
    /// noFeed: the build names no feed; nothing was asked.
    enum class Kind { upToDate, updateAvailable, failed, noFeed };
    Kind kind = Kind::failed;
    QString currentVersion;
    ReleaseFeed latest;  ///< set unless failed
    QString error;       ///< set when failed
};

/// The feed to ask: $MERIDANE_UPDATE_FEED, else the "updates/feedURL"
/// setting, else the address the packager built in (MERIDANE_UPDATE_FEED_URL,
/// empty by default: distributions deliver updates through their packages).
QUrl updateFeedUrl();

class UpdateChecker : public QObject {
    Q_OBJECT
public:
    /// The whole check, redirects and a slow trickle of bytes included.
    static constexpr std::chrono::milliseconds defaultTimeout{15000};
    /// Feeds are a few hundred bytes; anything this large is not one.
    static constexpr qint64 maxFeedBytes = 64 * 1024;
    /// Redirects followed before the check gives up.
    static constexpr int maxRedirects = 5;

    UpdateChecker(QUrl feedUrl, QString currentVersion, QObject* parent = nullptr);
    ~UpdateChecker() override;

    void setTimeout(std::chrono::milliseconds timeout);
    bool isChecking() const { return !reply_.isNull(); }

    /// Starts a check; a check already running is left to finish. Always
    /// answers through finished(), from the event loop.
    void check();

Q_SIGNALS:
    void finished(const meridane::ui::UpdateCheckOutcome& outcome);

private:
    void onReplyFinished();
    void finishLater(UpdateCheckOutcome::Kind kind, const QString& error);
    void finish(UpdateCheckOutcome outcome);

    QUrl feedUrl_;
    QString currentVersion_;
    std::chrono::milliseconds timeout_ = defaultTimeout;
    QNetworkAccessManager* network_;
    QPointer<QNetworkReply> reply_;
    QTimer* deadline_;
    bool tooLarge_ = false;
    bool timedOut_ = false;
    int redirects_ = 0;
    bool redirectRefused_ = false;
};

}  // namespace meridane::ui
