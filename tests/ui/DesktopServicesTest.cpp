// The folder-access dialog and revealing a file in the file manager.
#include "ui/FileManagerReveal.h"
#include "ui/FolderAccessDialog.h"

#include "TestSupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>

#include <gtest/gtest.h>

namespace meridane::ui {
namespace {

using meridane::testing::TempDir;

/// Answers the dialog once it is up: inspects it, then allows the folder it
/// shows or cancels.
class DialogAnswer {
public:
    struct Seen {
        QString acceptLabel;
        QString directory;
        QString message;
        QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
        bool readOnly = false;
        bool modal = false;
    };

    explicit DialogAnswer(bool allow) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this, allow] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            timer_.stop();
            seen.acceptLabel = dialog->labelText(QFileDialog::Accept);
            seen.directory = dialog->directory().absolutePath();
            seen.fileMode = dialog->fileMode();
            seen.readOnly = dialog->testOption(QFileDialog::ReadOnly);
            seen.modal = dialog->isModal();
            if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("folderAccessMessage")))
                seen.message = label->text();
            if (allow)
                QMetaObject::invokeMethod(dialog, "accept");
            else
                dialog->reject();
        });
        timer_.start();
    }

    Seen seen;

private:
    QTimer timer_;
};

TEST(FolderAccessDialogTest, OpensAtTheSidecarsFolderWithTheMessageAndAllow) {
    TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    DialogAnswer answer(true);
    FolderAccessDialog prompt;
    const auto chosen = prompt.promptForFolderAccess(dir.path());
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(std::filesystem::weakly_canonical(*chosen), std::filesystem::weakly_canonical(dir.path()));
    EXPECT_EQ(answer.seen.acceptLabel, "Allow");
    EXPECT_EQ(answer.seen.directory, folder);
    EXPECT_EQ(answer.seen.message,
              "This app needs access to the folder containing your XMP sidecar so it can read and update it.");
    EXPECT_EQ(answer.seen.fileMode, QFileDialog::Directory);
    EXPECT_TRUE(answer.seen.readOnly);
    EXPECT_TRUE(answer.seen.modal);
}

TEST(FolderAccessDialogTest, CancelGivesNoFolder) {
    TempDir dir;
    DialogAnswer answer(false);
    FolderAccessDialog prompt;
    EXPECT_FALSE(prompt.promptForFolderAccess(dir.path()).has_value());
    EXPECT_EQ(answer.seen.acceptLabel, "Allow");
}

/// A private session bus for the test, so no desktop's file manager opens.
class PrivateBus {
public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        process_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(5000))
            return;
        address_ = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(QStringLiteral("fileManager"));
        QDBusConnection::disconnectFromBus(QStringLiteral("app"));
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool ok() const { return !address_.isEmpty(); }
    QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(address_, name); }

private:
    QProcess process_;
    QString address_;
};

/// Stands in for a file manager: records what it was asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;

public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

TEST(FileManagerRevealTest, AsksTheFileManagerToShowTheFile) {
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "no dbus-daemon";
    FakeFileManager fileManager;
    QDBusConnection managerSide = bus.connect(QStringLiteral("fileManager"));
    ASSERT_TRUE(managerSide.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                                           QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(managerSide.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    std::vector<QUrl> opened;
    FileManagerReveal reveal(bus.connect(QStringLiteral("app")), [&](const QUrl& folder) { opened.push_back(folder); });
    QSignalSpy shown(&reveal, &FileManagerReveal::shownInFileManager);
    reveal.reveal("/photos/trip one/IMG_0001.HEIC");
    ASSERT_TRUE(shown.wait(5000));
    EXPECT_EQ(fileManager.shown, QStringList{"file:///photos/trip%20one/IMG_0001.HEIC"});
    EXPECT_TRUE(opened.empty());
}

TEST(FileManagerRevealTest, OpensTheFolderWhenNoFileManagerAnswers) {
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "no dbus-daemon";
    std::vector<QUrl> opened;
    FileManagerReveal reveal(bus.connect(QStringLiteral("app")), [&](const QUrl& folder) { opened.push_back(folder); });
    QSignalSpy fallback(&reveal, &FileManagerReveal::openedFolder);
    reveal.reveal("/photos/IMG_0001.HEIC");
    ASSERT_TRUE(fallback.wait(5000));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QStringLiteral("/photos")));
}

TEST(FileManagerRevealTest, OpensTheFolderWithoutASessionBus) {
    std::vector<QUrl> opened;
    FileManagerReveal reveal(QDBusConnection(QStringLiteral("not connected")),
                             [&](const QUrl& folder) { opened.push_back(folder); });
    reveal.reveal("/photos/IMG_0001.HEIC");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QStringLiteral("/photos")));
}

}  // namespace
}  // namespace meridane::ui

#include "DesktopServicesTest.moc"
