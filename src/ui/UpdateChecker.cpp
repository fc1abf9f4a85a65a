#include "ui/UpdateChecker.h"

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

    // Only web pages: the address is handed to the desktop to open.
    feed.url = QUrl(object.value(QStringLiteral("url")).toString().trimmed(), QUrl::StrictMode);
    const QString scheme = feed.url.scheme();
    if (!feed.url.isValid() || feed.url.host().isEmpty() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
        return fail(QStringLiteral("The release feed does not name a valid download page."));

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
      network_(new QNetworkAccessManager(this)) {}

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
    if (!feedUrl_.isValid() || feedUrl_.scheme().isEmpty()) {
        // Answer from the event loop, as a network answer would come.
        QTimer::singleShot(0, this, [this] {
            finish({UpdateCheckOutcome::Kind::failed, currentVersion_, {},
                    QStringLiteral("No valid update address is configured.")});
        });
        return;
    }
    QNetworkRequest request(feedUrl_);
    request.setTransferTimeout(static_cast<int>(timeout_.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Meridane/%1").arg(currentVersion_));
    tooLarge_ = false;
    reply_ = network_->get(request);
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

    UpdateCheckOutcome outcome;
    outcome.currentVersion = currentVersion_;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    if (tooLarge_ || body.size() > maxFeedBytes) {
        outcome.error = QStringLiteral("The release feed is too large.");
    } else if (reply->error() == QNetworkReply::OperationCanceledError) {
        outcome.error = QStringLiteral("The update server did not answer in time.");
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

void UpdateChecker::finish(UpdateCheckOutcome outcome) { Q_EMIT finished(outcome); }

}  // namespace meridane::ui
