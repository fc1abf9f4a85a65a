// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SingleInstance.h"

#include "ui/AppIdentity.h"
#include "ui/PathText.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace meridane::ui {

namespace {

constexpr int handOffTimeoutMs = 10000;
const char* const activationKeys[] = {"activation-token", "desktop-startup-id"};

// The later start's token lets the desktop raise the window it started for.
QVariantMap platformData() {
    QVariantMap data;
    const QByteArray wayland = qgetenv("XDG_ACTIVATION_TOKEN");
    const QByteArray x11 = qgetenv("DESKTOP_STARTUP_ID");
    if (!wayland.isEmpty())
        data.insert(QString::fromLatin1(activationKeys[0]), QString::fromUtf8(wayland));
    if (!x11.isEmpty())
        data.insert(QString::fromLatin1(activationKeys[1]), QString::fromUtf8(x11));
    return data;
}

QString tokenOf(const QVariantMap& data) {
    for (const char* key : activationKeys)
        if (const QString token = data.value(QString::fromLatin1(key)).toString(); !token.isEmpty())
            return token;
    return {};
}

}  // namespace

QString SingleInstance::serviceName() { return applicationId(); }
QString SingleInstance::objectPath() { return QStringLiteral("/org/meridane/Meridane"); }

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

SingleInstance::~SingleInstance() {
    if (registered_) {
        bus_.unregisterService(serviceName());
        bus_.unregisterObject(objectPath());
    }
}

bool SingleInstance::registerAsPrimary(Opener opener) {
    if (!bus_.isConnected())
        return false;
    opener_ = std::move(opener);
    // The object first, so no call can reach the name before it is there.
    if (!bus_.registerObject(objectPath(), this, QDBusConnection::ExportAllSlots))
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus_.interface()->registerService(
        serviceName(), QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    registered_ = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    if (!registered_)
        bus_.unregisterObject(objectPath());
    return registered_;
}

bool SingleInstance::handOff(const std::vector<std::filesystem::path>& paths) const {
    if (!bus_.isConnected())
        return false;
    QStringList uris;
    // Percent-encoded file URLs carry names that are not UTF-8 unchanged.
    for (const std::filesystem::path& path : paths)
        uris << QString::fromLatin1(fileUrl(path).toEncoded());
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName(), objectPath(),
                                                       QStringLiteral("org.freedesktop.Application"),
                                                       uris.isEmpty() ? QStringLiteral("Activate") : QStringLiteral("Open"));
    if (!uris.isEmpty())
        call << uris;
    call << platformData();
    const QDBusMessage reply = bus_.call(call, QDBus::BlockWithGui, handOffTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::Activate(const QVariantMap& platformData) {
    if (opener_)
        opener_({}, tokenOf(platformData));
}

void SingleInstance::Open(const QStringList& uris, const QVariantMap& platformData) {
    std::vector<std::filesystem::path> paths;
    for (const QString& uri : uris)
        if (auto path = pathFromUrl(QUrl::fromEncoded(uri.toUtf8())))
            paths.push_back(std::move(*path));
    if (opener_)
        opener_(paths, tokenOf(platformData));
}

void SingleInstance::ActivateAction(const QString&, const QVariantList&, const QVariantMap& platformData) {
    Activate(platformData);
}

}  // namespace meridane::ui
