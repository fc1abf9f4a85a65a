// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/BatchRun.h"

#include "base/FileName.h"
#include "engine/FolderAccessPrompt.h"
#include "engine/internal/MediaFileProcessor.h"
#include "engine/internal/RunJournalLog.h"
#include "engine/internal/SidecarLookup.h"
#include "engine/internal/SidecarUndo.h"
#include "engine/MediaIntake.h"
#include "journal/RunStore.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace meridane {

// The files of a run: a list, or for an undo a count and a look-up in the
// run's journal, which holds the paths already (a million of them held for
// the whole undo would cost some 100 MB).
struct RunItems {
    std::vector<std::filesystem::path> paths;
    std::size_t lookedUpCount = 0;
    std::function<std::filesystem::path(std::size_t)> lookUp;

    static RunItems listed(std::vector<std::filesystem::path> paths) { return {std::move(paths), 0, {}}; }
    static RunItems lookedUp(std::size_t count, std::function<std::filesystem::path(std::size_t)> lookUp) {
        return {{}, count, std::move(lookUp)};
    }

    std::size_t size() const { return lookUp ? lookedUpCount : paths.size(); }
    std::filesystem::path at(std::size_t index) const { return lookUp ? lookUp(index) : paths[index]; }
};

namespace {

bool isDirectory(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The media files of the dropped items, in their order: a folder gives what
// its walk finds, anything else itself when its extension is supported. Runs
// on a worker thread; stops between items once the run is going away.
// A subfolder the walk cannot read takes a place in the list too, after the
// files of its dropped folder, and `walkFailures` says, by that place, why.
std::vector<std::filesystem::path> mediaFilesOf(const std::vector<std::filesystem::path>& urls,
                                                const std::atomic<bool>& abandoned,
                                                std::map<size_t, std::string>& walkFailures) {
    std::vector<std::filesystem::path> files;
    for (const std::filesystem::path& url : urls) {
        if (abandoned.load())
            break;
        if (isDirectory(url)) {
            std::vector<UnreadableFolder> unreadable;
            std::vector<std::filesystem::path> found = collectMediaFiles(url, &unreadable);
            if (files.empty())
                files = std::move(found);
            else
                files.insert(files.end(), std::make_move_iterator(found.begin()),
                             std::make_move_iterator(found.end()));
            for (UnreadableFolder& folder : unreadable) {
                walkFailures[files.size()] = "Cannot read folder " + folder.folder.native() + ": " + folder.reason;
                files.push_back(std::move(folder.folder));
            }
        } else if (isSupportedMediaFile(url)) {
            files.push_back(url);
        }
    }
    return files;
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

// The files of one run and how far the workers got. The owning thread only
// starts a run and receives its results; the worker that finishes the last
// file of a group starts the next group itself, so a group never waits for
// a busy owning thread.
struct RunQueue {
    std::mutex mutex;
    RunItems files;  // fixed for the run
    size_t next = 0;
    int unfinishedInGroup = 0;
    bool cancelled = false;  // the owner is gone: nothing more is delivered
    bool stopping = false;   // no new file starts; the run still ends normally
    // An undo's rows that failed for a reason that may pass (a locked file,
    // a full disk): its run is not fully undone, and the next undo retries.
    std::atomic<int> retriableUndoFailures{0};
    bool paused = false;     // no new group starts until resumed
    bool parked = false;     // held between groups: nothing is in flight

    // Results not yet taken by the owning thread, with their files, in the
    // order the files finished, and whether the owner has been told of them:
    // it is told once and then takes every result that is waiting by then.
    // The worker names the file, as an undo's names are read from its journal.
    std::deque<std::pair<std::filesystem::path, ProcessingResult>> finishedFiles;
    bool ownerTold = false;

    // The worker whose file ends before the other of its group waits for
    // the next group's second file, handed to it by the worker that ends the
    // group. It polls first and sleeps only then: waking a sleeping thread
    // takes longer than a file.
    struct HandOff {
        static constexpr std::int64_t kNothingYet = -1;
        static constexpr std::int64_t kNoFileLeft = -2;
        std::atomic<std::int64_t> file{kNothingYet};
    };
    HandOff* waitingWorker = nullptr;  // under the mutex; the waiter's own
    std::condition_variable handOff;

    std::function<ProcessingResult(size_t index)> process;
    // The run's journal (none when no runs folder is set) and, for an undo,
    // the run being undone.
    std::shared_ptr<journal::RunWriter> writer;
    std::shared_ptr<RunJournalLog> log;
    FolderListings listings;  // for sidecars found in another letter case
    std::shared_ptr<Result<journal::OpenedRun>> undoing;
    QThreadPool* pool = nullptr;
    std::function<void()> resultsWaiting;  // tells the owning thread
    std::function<void()> finished;        // likewise

    // The indexes of the next group; none when the run is over. Caller holds
    // the mutex. A file whose sidecar is that of a file already in the group
    // (IMG_0001.HEIC and IMG_0001.DNG) ends the group: it starts with the
    // next one, once the first is done, and sees the sidecar as it was left.
    std::vector<size_t> takeGroup() {
        std::vector<size_t> group;
        while (!cancelled && !stopping && next < files.size() && group.size() < static_cast<size_t>(BatchRun::filesPerGroup)) {
            if (!group.empty()) {
                const std::filesystem::path candidate = files.at(next);
                if (std::any_of(group.begin(), group.end(),
                                [&](size_t taken) { return sameSidecar(files.at(taken), candidate); }))
                    break;
            }
            group.push_back(next++);
            // Counted before any of them starts, so the first save's journal
            // flush waits for the entries of the others in flight.
            if (writer)
                writer->fileStarted();
        }
        unfinishedInGroup = static_cast<int>(group.size());
        return group;
    }

    // The stem name in lower case: files whose sidecars could be one file
    // under either naming, and under a name found in another letter case,
    // share it.
    static std::string sidecarNameKey(const std::filesystem::path& file) {
        std::string name = MediaFileProcessor::sidecarName(fileNameOf(file));
        for (char& c : name)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return name;
    }

    static std::filesystem::path folderKey(const std::filesystem::path& file) {
        std::error_code ec;
        const std::filesystem::path folder = file.parent_path();
        const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
        return (ec ? folder : absolute).lexically_normal();
    }

    // The files a file's sidecar may be, under either naming, followed
    // through links: two names can lead to one file.
    static std::array<std::optional<std::pair<dev_t, ino_t>>, 2> sidecarFiles(const std::filesystem::path& file) {
        std::array<std::optional<std::pair<dev_t, ino_t>>, 2> files;
        const SidecarNaming namings[] = {SidecarNaming::stem, SidecarNaming::full};
        for (size_t i = 0; i < files.size(); ++i) {
            struct stat status {};
            if (::stat(MediaFileProcessor::sidecarPath(file, namings[i]).c_str(), &status) == 0)
                files[i] = std::pair{status.st_dev, status.st_ino};
        }
        return files;
    }

    // Files whose sidecars may be named alike in one folder share one; so do
    // those whose sidecars are links to one file, and an undo must put such a
    // file back one entry at a time, newest first.
    static bool sameSidecar(const std::filesystem::path& a, const std::filesystem::path& b) {
        if (sidecarNameKey(a) == sidecarNameKey(b) && folderKey(a) == folderKey(b))
            return true;
        const auto ofA = sidecarFiles(a), ofB = sidecarFiles(b);
        for (const auto& one : ofA)
            for (const auto& other : ofB)
                if (one && one == other)
                    return true;
        return false;
    }
};

ProcessingResult processOne(const RunQueue& queue, size_t index) {
    try {
        return queue.process(index);
    } catch (const std::exception& e) {
        return ProcessingResult::failed(e.what());
    } catch (...) {
        return ProcessingResult::failed("Unexpected error");
    }
}

void startFile(const std::shared_ptr<RunQueue>& queue, size_t index);

// How long finished files wait, at most, for the owning thread while a run
// keeps it busy: far below what a person notices in a list or a count.
constexpr std::chrono::milliseconds kResultsInterval{4};

// Files that end faster than the owning thread records them (an undo of a
// run whose sidecars are gone, say) hold their results in the queue; beyond
// this many the workers wait for the owner, so that the queue stays small
// however long the run.
constexpr size_t kMostResultsWaiting = 4096;

// One worker waits for the second file of the next group; see RunQueue::HandOff.
static_assert(BatchRun::filesPerGroup == 2);

// How long a worker polls for its next file before it sleeps: longer than
// the other file of a group usually takes after the first, far shorter than
// the wait for a slow disk, where the wake-up no longer matters.
constexpr std::chrono::microseconds kHandOffPolling{200};

// The file handed to a waiting worker, or kNoFileLeft.
std::int64_t awaitHandOff(RunQueue& queue, const RunQueue::HandOff& handOff) {
    const auto giveUp = std::chrono::steady_clock::now() + kHandOffPolling;
    for (;;) {
        if (const std::int64_t file = handOff.file.load(std::memory_order_acquire); file != handOff.kNothingYet)
            return file;
        if (std::chrono::steady_clock::now() >= giveUp)
            break;
        std::this_thread::yield();  // lets anything else that is ready run
    }
    std::unique_lock lock(queue.mutex);
    queue.handOff.wait(lock, [&] { return handOff.file.load() != handOff.kNothingYet; });
    return handOff.file.load();
}

// Processes a file; the worker that ends a group goes on with the first file
// of the next one and hands the second to the other worker, which has been
// waiting for it since its own file ended.
void runFiles(const std::shared_ptr<RunQueue>& queue, size_t index) {
    for (;;) {
        ProcessingResult result = processOne(*queue, index);
        std::filesystem::path file = queue->files.at(index);
        if (queue->writer)
            queue->writer->fileEnded();
        std::vector<size_t> group;
        bool runOver = false;
        bool tellOwner = false;
        RunQueue::HandOff handOff;  // lives until the file is handed
        bool waitForNext = false;
        std::optional<size_t> startOnPool;
        {
            std::lock_guard lock(queue->mutex);
            queue->finishedFiles.emplace_back(std::move(file), std::move(result));
            tellOwner = !std::exchange(queue->ownerTold, true);
            if (--queue->unfinishedInGroup > 0) {
                waitForNext = true;
                queue->waitingWorker = &handOff;
            } else if ((queue->paused || queue->finishedFiles.size() >= kMostResultsWaiting) && !queue->cancelled &&
                       !queue->stopping) {
                // The next group waits for resume(), or for the owner to take
                // the results waiting; the other worker is let go.
                queue->parked = true;
                if (RunQueue::HandOff* waiter = std::exchange(queue->waitingWorker, nullptr)) {
                    waiter->file.store(waiter->kNoFileLeft, std::memory_order_release);
                    queue->handOff.notify_all();
                }
            } else {
                group = queue->takeGroup();
                runOver = group.empty() && !queue->cancelled;
                if (RunQueue::HandOff* waiter = std::exchange(queue->waitingWorker, nullptr)) {
                    waiter->file.store(group.size() > 1 ? static_cast<std::int64_t>(group[1]) : waiter->kNoFileLeft,
                                       std::memory_order_release);
                    queue->handOff.notify_all();
                } else if (group.size() > 1) {
                    startOnPool = group[1];
                }
            }
        }
        if (tellOwner)
            queue->resultsWaiting();
        if (waitForNext) {
            const std::int64_t next = awaitHandOff(*queue, handOff);
            if (next == handOff.kNoFileLeft)
                return;
            index = static_cast<size_t>(next);
            continue;
        }
        if (group.empty()) {
            // The owning thread takes every waiting result before it ends the run.
            if (runOver)
                queue->finished();
            return;
        }
        if (startOnPool)
            startFile(queue, *startOnPool);
        index = group.front();
    }
}

void startFile(const std::shared_ptr<RunQueue>& queue, size_t index) {
    queue->pool->start([queue, index] { runFiles(queue, index); });
}

// A run held between groups goes on, from the owning thread, with its next
// group or its end, unless it is paused or its results still wait.
void continueHeldRun(const std::shared_ptr<RunQueue>& queue) {
    std::vector<size_t> group;
    bool runOver = false;
    {
        std::lock_guard lock(queue->mutex);
        if (!queue->parked || queue->paused || queue->finishedFiles.size() >= kMostResultsWaiting)
            return;
        queue->parked = false;
        group = queue->takeGroup();
        runOver = group.empty() && !queue->cancelled;
    }
    if (runOver)
        queue->finished();
    for (size_t index : group)
        startFile(queue, index);
}

// Records, on the owning thread, the results waiting by now, and returns how
// many there were. Later ones are left for the next call, so that the owner
// gets back to its other events between them; with `quietWhileTaking`, files
// that finish meanwhile do not tell the owner (it is to call again soon).
// Each result is taken from the queue just before it is recorded: a slot
// that runs a nested event loop, and takes results in there, keeps their order.
size_t takeFinishedFiles(BatchRun& run, const std::shared_ptr<RunQueue>& queue, bool quietWhileTaking) {
    size_t waiting = 0;
    {
        std::lock_guard lock(queue->mutex);
        waiting = queue->finishedFiles.size();
        queue->ownerTold = quietWhileTaking && waiting > 0;
    }
    const size_t taken = waiting;
    for (; waiting > 0; --waiting) {
        std::optional<std::pair<std::filesystem::path, ProcessingResult>> next;
        {
            std::lock_guard lock(queue->mutex);
            if (queue->finishedFiles.empty())
                break;
            next.emplace(std::move(queue->finishedFiles.front()));
            queue->finishedFiles.pop_front();
        }
        run.recordResult(next->first, std::move(next->second));
    }
    continueHeldRun(queue);
    return taken;
}

}  // namespace

struct BatchRun::State {
    ProcessingOptionValues options;
    bool isProcessing = false;
    bool isCollecting = false;
    bool stopping = false;
    bool paused = false;
    std::string currentFile;
    std::int64_t totalCount = 0;
    std::int64_t processedCount = 0;
    std::vector<ProcessingResultDetail> results;
    CaseCounts counts{};
    bool keepsResults = true;

    FileProcessor processor;
    std::shared_ptr<PromptBridge> bridge;
    std::shared_ptr<RunQueue> run;
    std::shared_ptr<std::atomic<bool>> walkAbandoned;  // set while a walk is under way
    std::filesystem::path runsFolder = journal::defaultRunsFolder();
    std::string undoneRun;
    std::vector<std::filesystem::path> dropped;  // the items of the last processPaths
    std::shared_ptr<Result<journal::OpenedRun>> undo;  // opened by the collecting step of an undo
    // Folders the walk could not read, by their place in the run's list;
    // filled by the collecting step of a run over dropped paths.
    std::shared_ptr<const std::map<size_t, std::string>> walkFailures;
    RunJournalInfo lastJournal;
    QTimer resultsTimer;  // takes the results of a busy run together
    QThreadPool pool;
};

BatchRun::BatchRun(QObject* parent) : QObject(parent), state_(std::make_unique<State>()) {
    state_->bridge = std::make_shared<PromptBridge>(this);
    state_->pool.setMaxThreadCount(filesPerGroup);
    state_->resultsTimer.setSingleShot(true);
    state_->resultsTimer.setInterval(kResultsInterval);
    connect(&state_->resultsTimer, &QTimer::timeout, this, [this] {
        if (state_->run && takeFinishedFiles(*this, state_->run, true) > 0)
            state_->resultsTimer.start();
    });
    syncProcessingOptions();
}

BatchRun::~BatchRun() {
    if (state_->walkAbandoned)
        state_->walkAbandoned->store(true);
    if (state_->run) {
        std::lock_guard lock(state_->run->mutex);
        state_->run->cancelled = true;
    }
    // Waiting workers must not wait for a prompt this thread can no longer show.
    state_->bridge->close();
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

void BatchRun::syncProcessingOptions() { processingOptions::set(state_->options); }

bool BatchRun::processPaths(const std::vector<std::filesystem::path>& urls) {
    if (state_->isProcessing)
        return false;
    resetRunState();
    state_->undo.reset();
    auto walkFailures = std::make_shared<std::map<size_t, std::string>>();
    state_->walkFailures = walkFailures;
    state_->dropped = urls;
    startCollecting([urls, walkFailures](const std::atomic<bool>& abandoned) {
        return RunItems::listed(mediaFilesOf(urls, abandoned, *walkFailures));
    });
    return true;
}

bool BatchRun::undoRun(const std::string& runId) {
    if (state_->isProcessing)
        return false;
    resetRunState();
    state_->walkFailures.reset();
    state_->dropped.clear();
    state_->undoneRun = runId;
    // Only a run's own id names a file: no path can be slipped in through it.
    const bool plainId = journal::isJournalName(runId + std::string(journal::kJournalSuffix));
    const std::filesystem::path file = state_->runsFolder / (runId + std::string(journal::kJournalSuffix));
    auto opened = std::make_shared<Result<journal::OpenedRun>>(
        Error{ErrorDomain::journal, kJournalUnknownRun, "No kept run has the id " + runId});
    state_->undo = opened;
    startCollecting([plainId, file, opened](const std::atomic<bool>&) {
        if (plainId)
            *opened = journal::OpenedRun::open(file);
        if (*opened && opened->value().entryCount() == 0 && opened->value().summary().damaged)
            *opened = Error{ErrorDomain::journal, kJournalDamaged, "The run's journal is damaged: no entry in it can be read"};
        if (!*opened)
            return RunItems::listed({file});
        // Latest first: a sidecar the run wrote twice goes back to its first state.
        const std::size_t count = opened->value().entryCount();
        return RunItems::lookedUp(count, [opened, file, count](std::size_t index) {
            std::filesystem::path sidecar = opened->value().entry(count - 1 - index).sidecarPath;
            return sidecar.empty() ? file : sidecar;
        });
    });
    return true;
}

void BatchRun::startCollecting(std::function<RunItems(const std::atomic<bool>&)> collect) {
    // In progress from now on, so a second drop during the walk is refused.
    state_->isProcessing = true;
    state_->isCollecting = true;
    state_->stopping = false;
    auto abandoned = std::make_shared<std::atomic<bool>>(false);
    state_->walkAbandoned = abandoned;
    Q_EMIT collectingStarted();

    // Folders on a slow or network disk can take seconds to walk; the owning
    // thread only hears of the outcome.
    state_->pool.start([this, collect = std::move(collect), abandoned] {
        RunItems files = collect(*abandoned);
        if (abandoned->load())
            return;
        // A stop can come after the outcome was queued: it is asked again here.
        QMetaObject::invokeMethod(
            this,
            [this, abandoned, files = std::move(files)]() mutable {
                if (!abandoned->load())
                    collectingEnded(std::move(files));
            },
            Qt::QueuedConnection);
    });
}

void BatchRun::collectingEnded(RunItems files) {
    state_->isCollecting = false;
    state_->stopping = false;
    state_->walkAbandoned.reset();
    state_->totalCount = static_cast<std::int64_t>(files.size());
    if (files.size() == 0) {
        state_->undo.reset();
        state_->isProcessing = false;
        Q_EMIT collectingFinished();
        return;
    }
    Q_EMIT collectingFinished();
    startRun(std::move(files));
}

void BatchRun::startRun(RunItems files) {
    if (state_->keepsResults)
        state_->results.reserve(files.size());
    auto run = std::make_shared<RunQueue>();
    run->files = std::move(files);
    if (!state_->runsFolder.empty()) {
        const journal::RunHeader header{state_->undo ? journal::RunKind::undo : journal::RunKind::write,
                                        std::chrono::system_clock::now(), ::getpid(), state_->undoneRun};
        run->writer = std::make_shared<journal::RunWriter>(state_->runsFolder, header);
        run->log = std::make_shared<RunJournalLog>(*run->writer);
    }
    if (state_->undo) {
        run->undoing = state_->undo;
        run->process = [undoing = run->undoing, log = run->log.get(),
                        retriable = &run->retriableUndoFailures](size_t index) {
            if (!*undoing)
                return ProcessingResult::failed(undoing->error().message);
            const journal::OpenedRun& undone = undoing->value();
            const journal::RunEntry entry = undone.entry(undone.entryCount() - 1 - index);
            ProcessingResult result = undoSidecar(undone, entry, log);
            // A damaged entry, or a folder that is another one now, fails for good.
            if (result.resultCase() == ProcessingResult::Case::failed && entry.damage.empty() &&
                result != ProcessingResult::failed(kOtherFolder))
                ++*retriable;
            return result;
        };
    } else {
        FileProcessor processor = state_->processor;
        if (!processor)
            processor = [log = run->log.get(), listings = &run->listings](const std::filesystem::path& file,
                                                                          FolderAccessPrompt* prompt) {
                MediaFileProcessor fileProcessor(prompt);
                fileProcessor.setReplacementLog(log);
                fileProcessor.setFolderListings(listings);
                return fileProcessor.processFile(file);
            };
        run->process = [files = &run->files, processor = std::move(processor), prompt = state_->bridge.get(),
                        walkFailures = state_->walkFailures](size_t index) {
            if (walkFailures)
                if (const auto failure = walkFailures->find(index); failure != walkFailures->end())
                    return ProcessingResult::failed(failure->second);
            return processor(files->at(index), prompt);
        };
    }
    run->pool = &state_->pool;
    // Results are recorded on the owning thread in the order the files
    // finish. The first result after a quiet spell is recorded at once; those
    // that follow are taken together every kResultsInterval, so that the
    // owner is woken a few hundred times a second rather than once per file.
    run->resultsWaiting = [this, weakRun = std::weak_ptr<RunQueue>(run)] {
        QMetaObject::invokeMethod(
            this,
            [this, weakRun] {
                if (const std::shared_ptr<RunQueue> current = weakRun.lock(); current && current == state_->run)
                    if (takeFinishedFiles(*this, current, true) > 0 && !state_->resultsTimer.isActive())
                        state_->resultsTimer.start();
            },
            Qt::QueuedConnection);
    };
    run->finished = [this] { QMetaObject::invokeMethod(this, [this] { runEnded(); }, Qt::QueuedConnection); };
    state_->run = run;
    Q_EMIT runStarted();

    std::vector<size_t> group;
    {
        std::lock_guard lock(run->mutex);
        run->paused = state_->paused;
        if (run->paused)
            run->parked = true;
        else
            group = run->takeGroup();
    }
    for (size_t index : group)
        startFile(run, index);
}

void BatchRun::pause() { state_->paused = true; setQueuePaused(true); }

void BatchRun::resume() {
    if (!state_->paused)
        return;
    state_->paused = false;
    setQueuePaused(false);
}

bool BatchRun::isPaused() const { return state_->paused; }

// Sets the pause; a run held by it goes on from the owning thread when it is lifted.
void BatchRun::setQueuePaused(bool paused) {
    const std::shared_ptr<RunQueue> run = state_->run;
    if (!run)
        return;
    {
        std::lock_guard lock(run->mutex);
        run->paused = paused;
    }
    if (!paused)
        continueHeldRun(run);
}

void BatchRun::stopAfterFilesInFlight() {
    if (!state_->isProcessing || state_->stopping)
        return;
    state_->stopping = true;
    if (state_->isCollecting) {
        // Nothing has started yet: the walk is abandoned and the run ends with
        // no files, as a drop without media files does.
        state_->walkAbandoned->store(true);
        collectingEnded(RunItems::listed({}));
        return;
    }
    bool parked = false;
    {
        std::lock_guard lock(state_->run->mutex);
        state_->run->stopping = true;
        parked = std::exchange(state_->run->parked, false);
    }
    // A paused run has nothing in flight: it ends now.
    if (parked)
        state_->run->finished();
}

bool BatchRun::isStopping() const { return state_->stopping; }

void BatchRun::resetRunState() {
    if (state_->isProcessing)
        return;
    state_->isProcessing = false;
    state_->currentFile.clear();
    state_->totalCount = 0;
    state_->processedCount = 0;
    state_->results.clear();
    state_->counts = {};
    state_->undoneRun.clear();
    Q_EMIT runReset();
}

void BatchRun::recordResult(const std::filesystem::path& filePath, ProcessingResult result) {
    state_->currentFile = filePath.filename().native();
    ++state_->counts[static_cast<size_t>(result.resultCase())];
    ++state_->processedCount;
    ProcessingResultDetail detail = ProcessingResultDetail::make(filePath, std::move(result));
    if (!state_->keepsResults) {
        Q_EMIT resultRecorded(detail);
        return;
    }
    state_->results.push_back(std::move(detail));
    Q_EMIT resultRecorded(state_->results.back());
}

void BatchRun::runEnded() {
    state_->resultsTimer.stop();
    takeFinishedFiles(*this, state_->run, false);
    if (const std::shared_ptr<journal::RunWriter>& writer = state_->run->writer) {
        // Entries are on disk already; what finishing adds is only a note.
        (void)writer->finish();
        state_->lastJournal = {writer->id(), writer->file(), writer->replacedCount(), writer->flushCount()};
        // An undo stopped halfway is not done: the next undo takes it up
        // again; nor is one that put nothing back while something was left
        // to put back (every sidecar changed since the run, say), nor one
        // with a failure that may pass. Marked done, it would be the next
        // plain undo's target, which would write the run's changes again.
        const auto count = [this](ProcessingResult::Case outcome) {
            return state_->counts[static_cast<size_t>(outcome)];
        };
        const bool putNothingBack =
            writer->replacedCount() == 0 && !writer->continuesEarlierUndo() &&
            count(ProcessingResult::Case::failed) + count(ProcessingResult::Case::notRestored) > 0;
        if (state_->undo && *state_->undo && !state_->stopping && !putNothingBack &&
            state_->run->retriableUndoFailures == 0)
            (void)state_->undo->value().markUndone(writer->id());
    }
    if (state_->undo && *state_->undo)
        state_->undo->value().close();  // likewise: it can be undone again at once
    state_->undo.reset();
    state_->isProcessing = false;
    state_->stopping = false;
    state_->currentFile.clear();
    state_->run.reset();
    Q_EMIT runFinished();
}

void BatchRun::setRunsFolder(const std::filesystem::path& folder) { state_->runsFolder = folder; }
const std::filesystem::path& BatchRun::runsFolder() const { return state_->runsFolder; }
const std::vector<std::filesystem::path>& BatchRun::droppedPaths() const { return state_->dropped; }
const std::string& BatchRun::undoneRunId() const { return state_->undoneRun; }
const RunJournalInfo& BatchRun::lastJournal() const { return state_->lastJournal; }

bool BatchRun::isProcessing() const { return state_->isProcessing; }
bool BatchRun::isCollecting() const { return state_->isCollecting; }
const std::string& BatchRun::currentFile() const { return state_->currentFile; }
std::int64_t BatchRun::totalCount() const { return state_->totalCount; }
std::int64_t BatchRun::processedCount() const { return state_->processedCount; }
const std::vector<ProcessingResultDetail>& BatchRun::results() const { return state_->results; }
const BatchRun::CaseCounts& BatchRun::resultCounts() const { return state_->counts; }
void BatchRun::setKeepsResults(bool keep) { state_->keepsResults = keep; }

std::vector<const ProcessingResultDetail*> BatchRun::visibleResults() const {
    std::vector<const ProcessingResultDetail*> visible;
    visible.reserve(state_->results.size());
    const bool silent = state_->options.silentlyIgnoreSkipped;
    for (const ProcessingResultDetail& detail : state_->results)
        if (!silent || !isHiddenWhenSilent(detail.result))
            visible.push_back(&detail);
    return visible;
}

bool BatchRun::isHiddenWhenSilent(ProcessingResult::Case resultCase) {
    switch (resultCase) {
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
