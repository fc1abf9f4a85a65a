#include "core/BatchRun.h"

#include "access/FolderAccessPrompt.h"
#include "core/MediaFileProcessor.h"
#include "core/MediaIntake.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <list>
#include <mutex>

namespace meridane {
namespace {

bool isDirectory(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Hands a worker's folder question to the front end's prompt on the owning
// thread and lets the worker wait for the answer. Closing it answers every
// waiting question with "none", so the owner never waits on a worker that
// waits on the owner.
class PromptBridge : public FolderAccessPrompt, public std::enable_shared_from_this<PromptBridge> {
public:
    explicit PromptBridge(QObject* owner) : owner_(owner) {}

    void setTarget(FolderAccessPrompt* target) { target_.store(target); }

    std::optional<std::filesystem::path> promptForFolderAccess(const std::filesystem::path& folder) override {
        FolderAccessPrompt* target = target_.load();
        if (!target)
            return std::nullopt;
        if (QThread::currentThread() == owner_->thread())
            return target->promptForFolderAccess(folder);

        auto request = std::make_shared<Request>();
        {
            std::lock_guard lock(mutex_);
            if (closed_)
                return std::nullopt;
            pending_.push_back(request);
        }
        std::weak_ptr<PromptBridge> weakSelf = weak_from_this();
        QMetaObject::invokeMethod(
            owner_,
            [weakSelf, request, folder] {
                std::optional<std::filesystem::path> answer;
                if (auto self = weakSelf.lock())
                    if (FolderAccessPrompt* current = self->target_.load(); current && !self->isClosed())
                        answer = current->promptForFolderAccess(folder);
                complete(*request, std::move(answer));
            },
            Qt::QueuedConnection);

        std::unique_lock lock(request->mutex);
        request->answered.wait(lock, [&] { return request->done; });
        std::optional<std::filesystem::path> answer = std::move(request->answer);
        lock.unlock();
        std::lock_guard bridgeLock(mutex_);
        pending_.remove(request);
        return answer;
    }

    void close() {
        std::list<std::shared_ptr<Request>> waiting;
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            waiting = pending_;
        }
        for (const auto& request : waiting)
            complete(*request, std::nullopt);
    }

private:
    struct Request {
        std::mutex mutex;
        std::condition_variable answered;
        bool done = false;
        std::optional<std::filesystem::path> answer;
    };

    static void complete(Request& request, std::optional<std::filesystem::path> answer) {
        std::lock_guard lock(request.mutex);
        if (request.done)
            return;
        request.done = true;
        request.answer = std::move(answer);
        request.answered.notify_all();
    }

    bool isClosed() {
        std::lock_guard lock(mutex_);
        return closed_;
    }

    QObject* owner_;
    std::atomic<FolderAccessPrompt*> target_{nullptr};
    std::mutex mutex_;
    bool closed_ = false;
    std::list<std::shared_ptr<Request>> pending_;
};

}  // namespace

struct BatchRun::State {
    ProcessingOptionValues options;
    bool isProcessing = false;
    std::string currentFile;
    std::int64_t totalCount = 0;
    std::int64_t processedCount = 0;
    std::vector<ProcessingResultDetail> results;

    std::vector<std::filesystem::path> files;
    size_t nextFile = 0;
    int inFlight = 0;
    FileProcessor processor;
    std::shared_ptr<PromptBridge> bridge;
    QThreadPool pool;
};

BatchRun::BatchRun(QObject* parent) : QObject(parent), state_(std::make_unique<State>()) {
    state_->bridge = std::make_shared<PromptBridge>(this);
    state_->pool.setMaxThreadCount(filesPerGroup);
    syncProcessingOptions();
}

BatchRun::~BatchRun() {
    // Waiting workers must not wait for a prompt this thread can no longer show.
    state_->bridge->close();
    state_->files.clear();
    state_->pool.waitForDone();
}

void BatchRun::setFolderAccessPrompt(FolderAccessPrompt* prompt) { state_->bridge->setTarget(prompt); }

void BatchRun::setFileProcessor(FileProcessor processor) { state_->processor = std::move(processor); }

const ProcessingOptionValues& BatchRun::options() const { return state_->options; }

void BatchRun::setOptions(const ProcessingOptionValues& options) {
    state_->options = options;
    syncProcessingOptions();
    Q_EMIT optionsChanged();
}

void BatchRun::syncProcessingOptions() { ProcessingOptions::set(state_->options); }

bool BatchRun::processURLs(const std::vector<std::filesystem::path>& urls) {
    if (state_->isProcessing)
        return false;
    resetRunState();

    std::vector<std::filesystem::path> files;
    for (const std::filesystem::path& url : urls) {
        if (isDirectory(url)) {
            std::vector<std::filesystem::path> found = collectMediaFiles(url);
            files.insert(files.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
        } else if (isSupportedMediaFile(url)) {
            files.push_back(url);
        }
    }
    state_->totalCount = static_cast<std::int64_t>(files.size());
    if (files.empty())
        return true;

    state_->isProcessing = true;
    state_->files = std::move(files);
    state_->nextFile = 0;
    state_->results.reserve(state_->files.size());
    Q_EMIT runStarted();
    startNextGroup();
    return true;
}

void BatchRun::resetRunState() {
    if (state_->isProcessing)
        return;
    state_->isProcessing = false;
    state_->currentFile.clear();
    state_->totalCount = 0;
    state_->processedCount = 0;
    state_->results.clear();
    state_->files.clear();
    state_->nextFile = 0;
    Q_EMIT runReset();
}

void BatchRun::recordResult(const std::filesystem::path& fileURL, ProcessingResult result) {
    state_->currentFile = fileURL.filename().native();
    state_->results.push_back(ProcessingResultDetail::make(fileURL, std::move(result)));
    ++state_->processedCount;
    Q_EMIT resultRecorded(state_->results.back());
}

void BatchRun::startNextGroup() {
    State& s = *state_;
    const size_t end = std::min(s.files.size(), s.nextFile + static_cast<size_t>(filesPerGroup));
    FileProcessor processor = s.processor;
    if (!processor)
        processor = [](const std::filesystem::path& file, FolderAccessPrompt* prompt) {
            return MediaFileProcessor(prompt).processFile(file);
        };
    FolderAccessPrompt* prompt = s.bridge.get();
    for (; s.nextFile < end; ++s.nextFile) {
        ++s.inFlight;
        s.pool.start([this, processor, prompt, file = s.files[s.nextFile]] {
            ProcessingResult result = ProcessingResult::failed("Unexpected error");
            try {
                result = processor(file, prompt);
            } catch (const std::exception& e) {
                result = ProcessingResult::failed(e.what());
            } catch (...) {
            }
            // Results are recorded on the owning thread in the order the files finish.
            QMetaObject::invokeMethod(
                this, [this, file, result = std::move(result)]() mutable { fileFinished(file, std::move(result)); },
                Qt::QueuedConnection);
        });
    }
}

void BatchRun::fileFinished(const std::filesystem::path& fileURL, ProcessingResult result) {
    recordResult(fileURL, std::move(result));
    if (--state_->inFlight > 0)
        return;
    if (state_->nextFile < state_->files.size()) {
        startNextGroup();
        return;
    }
    state_->isProcessing = false;
    state_->currentFile.clear();
    state_->files.clear();
    state_->files.shrink_to_fit();
    Q_EMIT runFinished();
}

bool BatchRun::isProcessing() const { return state_->isProcessing; }
const std::string& BatchRun::currentFile() const { return state_->currentFile; }
std::int64_t BatchRun::totalCount() const { return state_->totalCount; }
std::int64_t BatchRun::processedCount() const { return state_->processedCount; }
const std::vector<ProcessingResultDetail>& BatchRun::results() const { return state_->results; }

std::vector<const ProcessingResultDetail*> BatchRun::visibleResults() const {
    std::vector<const ProcessingResultDetail*> visible;
    visible.reserve(state_->results.size());
    const bool silent = state_->options.silentlyIgnoreSkipped;
    for (const ProcessingResultDetail& detail : state_->results)
        if (!silent || !isHiddenWhenSilent(detail.result))
            visible.push_back(&detail);
    return visible;
}

bool BatchRun::isHiddenWhenSilent(const ProcessingResult& result) {
    switch (result.resultCase()) {
    case ProcessingResult::Case::withinTolerance:
    case ProcessingResult::Case::skippedMissing:
    case ProcessingResult::Case::skippedNonApple:
    case ProcessingResult::Case::alreadyCorrect:
        return true;
    default:
        return false;
    }
}

}  // namespace meridane
