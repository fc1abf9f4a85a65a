// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UpdateChecker.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>

#include <algorithm>

namespace meridane::ui {

namespace {

const QRegularExpression& versionPattern() {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{1,9})(\\.\\d{1,9}){0,3}(-[0-9A-Za-z][0-9A-Za-z.]*)?$"));
    return pattern;
}

struct SplitVersion {
    std::vector<unsigned long> numbers;
    QString preRelease;
};

SplitVersion splitVersion(QStringView version) {
    SplitVersion split;
    const qsizetype dash = version.indexOf(QLatin1Char('-'));
    const QStringView release = dash < 0 ? version : version.left(dash);
    if (dash >= 0)
        split.preRelease = version.mid(dash + 1).toString();
    for (QStringView part : release.split(QLatin1Char('.')))
        split.numbers.push_back(part.toULong());
    return split;
}

}  // namespace

bool isAllowedUpdateAddress(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    const QString host = url.host();
    return url.scheme() == QLatin1String("http") &&
           (host == QLatin1String("localhost") || QHostAddress(host).isLoopback());
}

bool isValidVersion(QStringView version) { return versionPattern().match(version.toString()).hasMatch(); }

int compareVersions(QStringView a, QStringView b) {
    SplitVersion left = splitVersion(a);
    SplitVersion right = splitVersion(b);
    const std::size_t count = std::max(left.numbers.size(), right.numbers.size());
    left.numbers.resize(count, 0);
    right.numbers.resize(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        if (left.numbers[i] != right.numbers[i])
            return left.numbers[i] < right.numbers[i] ? -1 : 1;
    }
    if (left.preRelease == right.preRelease)
        return 0;
    if (left.preRelease.isEmpty())
        return 1;
    if (right.preRelease.isEmpty())
        return -1;
    return left.preRelease.compare(right.preRelease) < 0 ? -1 : 1;
}

std::optional<ReleaseFeed> parseReleaseFeed(const QByteArray& json, QString* error) {
    auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return fail(QStringLiteral("The release feed is not a JSON object."));
    const QJsonObject object = document.object();

    ReleaseFeed feed;
    feed.version = object.value(QStringLiteral("version")).toString().trimmed();
    if (!isValidVersion(feed.version))
        return fail(QStringLiteral("The release feed does not name a valid version."));

    // Only secure web pages: the address is handed to the desktop to open.
    // A feed on this machine (a test, a mirror) may be plain http; the page
    // it names is opened by the desktop's browser and must be https.
    feed.url = QUrl(object.value(QStringLiteral("url")).toString().trimmed(), QUrl::StrictMode);
    if (!isAllowedUpdateAddress(feed.url) || feed.url.scheme() != QLatin1String("https"))
        return fail(QStringLiteral("The release feed does not name a valid https download page."));

    feed.notes = object.value(QStringLiteral("notes")).toString();
    return feed;
}

QUrl updateFeedUrl() {
    const QString fromEnvironment = qEnvironmentVariable("MERIDANE_UPDATE_FEED").trimmed();
    if (!fromEnvironment.isEmpty())
        return QUrl(fromEnvironment);
    const QString fromSettings = QSettings().value(QStringLiteral("updates/feedURL")).toString().trimmed();
    if (!fromSettings.isEmpty())
        return QUrl(fromSettings);
    return QUrl(QStringLiteral(MERIDANE_UPDATE_FEED_URL));
}

UpdateChecker::UpdateChecker(QUrl feedUrl, QString currentVersion, QObject* parent)
    : QObject(parent),
      feedUrl_(std::move(feedUrl)),
      currentVersion_(std::move(currentVersion)),
      network_(new QNetworkAccessManager(this)),
      deadline_(new QTimer(this)) {
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, [this] {
        if (!reply_)
            return;
        timedOut_ = true;
        reply_->abort();
    });
}

UpdateChecker::~UpdateChecker() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

void UpdateChecker::setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

void UpdateChecker::check() {
    if (isChecking())
        return;
    if (feedUrl_.isEmpty()) {
        finishLater(UpdateCheckOutcome::Kind::noFeed, {});
        return;
    }
    if (!isAllowedUpdateAddress(feedUrl_)) {
        finishLater(UpdateCheckOutcome::Kind::failed, QStringLiteral("The update feed address is not an https address."));
        return;
    }
    QNetworkRequest request(feedUrl_);
    // Each redirect must lead to an address the feed itself could have.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Meridane/%1").arg(currentVersion_));
    tooLarge_ = false;
    timedOut_ = false;
    reply_ = network_->get(request);
    // One deadline for the whole check: an idle timeout would let a server
    // that trickles a byte now and then keep the check alive for ever.
    deadline_->start(timeout_);
    connect(reply_, &QNetworkReply::redirected, this, [this](const QUrl& target) {
        if (!reply_)
            return;
        if (isAllowedUpdateAddress(target))
            Q_EMIT reply_->redirectAllowed();
        else
            reply_->abort();
    });
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > maxFeedBytes && reply_) {
            tooLarge_ = true;
            reply_->abort();
        }
    });
    connect(reply_, &QNetworkReply::finished, this, &UpdateChecker::onReplyFinished);
}

void UpdateChecker::onReplyFinished() {
    QNetworkReply* reply = reply_;
    if (!reply)
        return;
    reply->deleteLater();
    reply_ = nullptr;
    deadline_->stop();

    UpdateCheckOutcome outcome;
    outcome.currentVersion = currentVersion_;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    if (tooLarge_ || body.size() > maxFeedBytes) {
        outcome.error = QStringLiteral("The release feed is too large.");
    } else if (timedOut_) {
        outcome.error = QStringLiteral("The update server did not answer in time.");
    } else if (reply->error() == QNetworkReply::TooManyRedirectsError) {
        outcome.error = QStringLiteral("The update server sent too many redirects.");
    } else if (reply->error() == QNetworkReply::OperationCanceledError) {
        outcome.error = QStringLiteral("The update server redirected to an address that is not https.");
    } else if (reply->error() != QNetworkReply::NoError && status == 0) {
        outcome.error = QStringLiteral("The update server could not be reached: %1").arg(reply->errorString());
    } else if (status != 200) {
        outcome.error = QStringLiteral("The update server answered with HTTP status %1.").arg(status);
    } else if (auto feed = parseReleaseFeed(body, &outcome.error)) {
        outcome.latest = *feed;
        outcome.kind = compareVersions(feed->version, currentVersion_) > 0 ? UpdateCheckOutcome::Kind::updateAvailable
                                                                           : UpdateCheckOutcome::Kind::upToDate;
    }
    finish(std::move(outcome));
}

// Answers from the event loop, as a network answer would come.
void UpdateChecker::finishLater(UpdateCheckOutcome::Kind kind, const QString& error) {
    QTimer::singleShot(0, this, [this, kind, error] { finish({kind, currentVersion_, {}, error}); });
}

void UpdateChecker::finish(UpdateCheckOutcome outcome) { Q_EMIT finished(outcome); }

}  // namespace meridane::ui
