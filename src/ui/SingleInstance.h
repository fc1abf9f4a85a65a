// SPDX-License-Identifier: GPL-3.0-or-later
// One window per session: the first process owns the bus name
// org.meridane.Meridane and answers org.freedesktop.Application (Activate,
// Open), as desktop applications do; a later start hands its paths over and
// ends. Without a session bus every start has its own window, as before.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <filesystem>
#include <functional>
#include <vector>

namespace meridane::ui {

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    static QString serviceName();
    static QString objectPath();

    /// Paths handed over by a later start (possibly none), with the later
    /// start's activation token when it had one.
    using Opener = std::function<void(const std::vector<std::filesystem::path>& paths, const QString& token)>;

    explicit SingleInstance(QDBusConnection bus, QObject* parent = nullptr);
    ~SingleInstance() override;

    /// Takes the bus name; false when there is no bus or another process has it.
    bool registerAsPrimary(Opener opener);
    /// Hands the paths to the process that has the name; true when it took them.
    bool handOff(const std::vector<std::filesystem::path>& paths) const;

public Q_SLOTS:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& actionName, const QVariantList& parameter, const QVariantMap& platformData);

private:
    QDBusConnection bus_;
    Opener opener_;
    bool registered_ = false;
};

}  // namespace meridane::ui
