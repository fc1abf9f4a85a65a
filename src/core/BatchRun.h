// The engine behind the window and the CLI: turns dropped paths into a run
// over their media files, two files at a time, off the owning (GUI) thread,
// and keeps the progress and result state that the front ends show.
#pragma once

#include "core/ProcessingOptions.h"
#include "core/ProcessingResult.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <filesystem>
#include <string>
#include <vector>

namespace meridane {

class FolderAccessPrompt;

class BatchRun : public QObject {
    Q_OBJECT
public:
    static constexpr int filesPerGroup = 2;

    explicit BatchRun(QObject* parent = nullptr);
    ~BatchRun() override;

    /// The prompt used when a sidecar's folder cannot be reached; none means
    /// such sidecars fail with "Permission denied for XMP sidecar".
    void setFolderAccessPrompt(FolderAccessPrompt* prompt);

    /// The front end's own copy of the four options. Setting it copies all
    /// four into the process-wide options (syncProcessingOptions).
    const ProcessingOptionValues& options() const;
    void setOptions(const ProcessingOptionValues& options);
    void syncProcessingOptions();

    /// Starts a run; does nothing while one is in progress (returns false).
    bool processURLs(const std::vector<std::filesystem::path>& urls);
    void resetRunState();
    void recordResult(const std::filesystem::path& fileURL, ProcessingResult result);

    bool isProcessing() const;
    const std::string& currentFile() const;
    std::int64_t totalCount() const;
    std::int64_t processedCount() const;
    const std::vector<ProcessingResultDetail>& results() const;

    /// results without the hidden kinds when the front end's
    /// silentlyIgnoreSkipped is on.
    std::vector<const ProcessingResultDetail*> visibleResults() const;
    /// withinTolerance, skippedMissing, skippedNonApple and alreadyCorrect.
    static bool isHiddenWhenSilent(const ProcessingResult& result);

Q_SIGNALS:
    void runReset();
    void runStarted();
    /// A result was appended to results() (its index is results().size()-1).
    void resultRecorded(const meridane::ProcessingResultDetail& detail);
    void runFinished();
    void optionsChanged();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace meridane
