#include "UiTestSupport.h"

#include <QTest>

namespace meridane::testing {

ProcessingResult resultForName(const std::string& fileName) {
    auto startsWith = [&fileName](const char* prefix) { return fileName.rfind(prefix, 0) == 0; };
    if (startsWith("failed"))
        return ProcessingResult::failed("boom");
    if (startsWith("correct"))
        return ProcessingResult::alreadyCorrect();
    if (startsWith("tolerance"))
        return ProcessingResult::withinTolerance({"no hemisphere letter"});
    if (startsWith("missing"))
        return ProcessingResult::skippedMissing("No XMP sidecar file");
    if (startsWith("different"))
        return ProcessingResult::skippedDifferentGPS({{"Latitude", "1.0", "2.0"}});
    return ProcessingResult::updated({"a", "b"}, processingOptions::current().dryRun);
}

FakeRun::FakeRun() : savedOptions_(ProcessingOptionValues{}) {
    run_.setFileProcessor([shared = shared_](const std::filesystem::path& file, FolderAccessPrompt*) {
        const std::string name = file.filename().string();
        std::unique_lock lock(shared->mutex);
        shared->names.push_back(name);
        if (name.rfind("hold", 0) == 0)
            shared->released.wait(lock, [&] { return shared->open; });
        return resultForName(name);
    });
}

FakeRun::~FakeRun() { release(); }

void FakeRun::release() {
    std::lock_guard lock(shared_->mutex);
    shared_->open = true;
    shared_->released.notify_all();
}

std::vector<std::string> FakeRun::processedNames() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->names;
}

bool waitForRunToFinish(BatchRun& run, int timeoutMs) {
    const bool finished = QTest::qWaitFor([&run] { return !run.isProcessing(); }, timeoutMs);
    // Let the list take in the last batch of rows.
    QCoreApplication::processEvents();
    return finished;
}

std::unique_ptr<QMimeData> fileDrop(const std::vector<std::filesystem::path>& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const auto& path : paths)
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    mime->setUrls(urls);
    return mime;
}

}  // namespace meridane::testing
