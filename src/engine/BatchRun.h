// SPDX-License-Identifier: GPL-3.0-or-later
// The engine behind the window and the CLI: turns dropped paths into a run
// over their media files, two files at a time, off the owning (GUI) thread,
// and keeps the progress and result state that the front ends show.
#pragma once

#include "engine/ProcessingOptions.h"
#include "engine/ProcessingResult.h"

#include <QObject>

#include <array>
#include <atomic>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace meridane {

class FolderAccessPrompt;
struct RunItems;

/// What the last run kept for undo.
struct RunJournalInfo {
    std::string id;              ///< the run's id; its journal exists only when replaced > 0
    std::filesystem::path file;  ///< empty when nothing was kept
    std::size_t replaced = 0;    ///< sidecars the run replaced
    std::size_t flushes = 0;     ///< disk flushes of the journal
};

class BatchRun : public QObject {
    Q_OBJECT
public:
    static constexpr int filesPerGroup = 2;

    explicit BatchRun(QObject* parent = nullptr);
    ~BatchRun() override;

    /// The prompt used when a sidecar's folder cannot be reached; none means
    /// such sidecars fail with the reason (see requestSidecarAccess).
    void setFolderAccessPrompt(FolderAccessPrompt* prompt);

    /// What turns one file into its result, on a worker thread; by default
    /// MediaFileProcessor::processFile. `prompt` hands questions to the
    /// prompt above on the owning thread and waits for the answer. Tests
    /// replace the processor to observe the grouping.
    using FileProcessor =
        std::function<ProcessingResult(const std::filesystem::path& filePath, FolderAccessPrompt* prompt)>;
    void setFileProcessor(FileProcessor processor);

    /// The front end's own copy of the four options. Setting it copies all
    /// four into the process-wide options (syncProcessingOptions).
    const ProcessingOptionValues& options() const;
    void setOptions(const ProcessingOptionValues& options);
    void syncProcessingOptions();

    /// Starts a run; does nothing while one is in progress (returns false).
    /// The state is cleared and isProcessing set at once; the dropped items
    /// are then walked in order on a worker thread (folders searched), so a
    /// slow disk never blocks the owning thread. When the walk ends,
    /// totalCount is set on the owning thread and the files are processed
    /// on worker threads in groups of filesPerGroup, a group starting when
    /// the previous one has finished, and each result is recorded on the
    /// owning thread in the order the files finish. When the walk finds no
    /// media file, the run goes back to idle and nothing runs.
    bool processPaths(const std::vector<std::filesystem::path>& urls);
    /// The items given to the current or last processPaths, in their order;
    /// empty for an undo.
    const std::vector<std::filesystem::path>& droppedPaths() const;
    /// Where write runs keep their journals (RunHistory::defaultFolder() at
    /// first); empty keeps none.
    void setRunsFolder(const std::filesystem::path& folder);
    const std::filesystem::path& runsFolder() const;
    /// Starts an undo of the kept run `runId`, as a run of its own: one row
    /// per sidecar the run replaced, latest first, two at a time, each put
    /// back through the atomic save when it still holds what the run wrote.
    /// The undo is journaled like any write run. A journal that cannot be
    /// opened gives one failed row. False while a run is in progress.
    bool undoRun(const std::string& runId);
    /// The id of the run being or last undone while the results are an
    /// undo's; empty for an ordinary run.
    const std::string& undoneRunId() const;
    /// What the last finished run kept for undo.
    const RunJournalInfo& lastJournal() const;

    /// Starts no new file: the files in flight finish and are recorded, then
    /// the run ends as usual (runFinished); a walk still under way is
    /// abandoned and ends like a drop without media files. Only while a run
    /// is in progress.
    void stopAfterFilesInFlight();
    /// Holds back new files while a question is open: the files in flight
    /// finish and are recorded, then no file starts until resume(). A pause
    /// lasts across runs until resumed; a paused run that is stopped ends at
    /// once, as it has nothing in flight.
    void pause();
    void resume();
    bool isPaused() const;
    /// Between stopAfterFilesInFlight and the end of the run.
    bool isStopping() const;
    /// Ignored while a run is in progress.
    void resetRunState();
    void recordResult(const std::filesystem::path& filePath, ProcessingResult result);

    bool isProcessing() const;
    /// True from processPaths until the walk of the dropped items has ended
    /// (isProcessing is set meanwhile; totalCount is still 0).
    bool isCollecting() const;
    const std::string& currentFile() const;
    std::int64_t totalCount() const;
    std::int64_t processedCount() const;
    /// Empty when results are not kept.
    const std::vector<ProcessingResultDetail>& results() const;
    /// How many results of each case this run has recorded, kept or not.
    using CaseCounts = std::array<std::int64_t, ProcessingResult::kCaseCount>;
    const CaseCounts& resultCounts() const;
    /// A front end that handles each result as it is recorded (the CLI
    /// prints it) need not keep them: a run over a million files then holds
    /// no row in memory. On by default.
    void setKeepsResults(bool keep);

    /// results without the hidden kinds when the front end's
    /// silentlyIgnoreSkipped is on.
    std::vector<const ProcessingResultDetail*> visibleResults() const;
    /// withinTolerance, skippedMissing, skippedNonApple and alreadyCorrect.
    static bool isHiddenWhenSilent(ProcessingResult::Case resultCase);
    static bool isHiddenWhenSilent(const ProcessingResult& result) { return isHiddenWhenSilent(result.resultCase()); }

Q_SIGNALS:
    void runReset();
    /// The dropped items are being walked; emitted right after runReset.
    void collectingStarted();
    /// The walk has ended and totalCount is set. Without media files the run
    /// is idle again (isProcessing false) and neither runStarted nor
    /// runFinished follows; otherwise runStarted comes next.
    void collectingFinished();
    void runStarted();
    /// A result was appended to results() (its index is results().size()-1).
    void resultRecorded(const meridane::ProcessingResultDetail& detail);
    void runFinished();
    void optionsChanged();

private:
    void startCollecting(std::function<RunItems(const std::atomic<bool>&)> collect);
    void collectingEnded(RunItems files);
    void startRun(RunItems files);
    void runEnded();
    void setQueuePaused(bool paused);

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace meridane
