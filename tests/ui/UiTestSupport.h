// Shared pieces of the window tests: a batch run whose files are turned
// into results by their names, drops built like a file manager's, and a wait
// for the run to end.
#pragma once

#include "engine/BatchRun.h"
#include "engine/ProcessingOptions.h"

#include <QMimeData>
#include <QUrl>

#include <filesystem>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace meridane::testing {

/// The result a fake pipeline gives a file: chosen by the start of its name
/// ("failed-…", "correct-…", "tolerance-…", "missing-…", "different-…"),
/// updated with two changes otherwise.
ProcessingResult resultForName(const std::string& fileName);

/// A batch run whose pipeline is resultForName; it remembers which files
/// it was given, and restores the process-wide options when it goes. Files
/// whose name starts with "hold" wait until release() is called, which keeps
/// a run in progress for as long as a test needs.
class FakeRun {
public:
    FakeRun();
    ~FakeRun();
    BatchRun& run() { return run_; }
    std::vector<std::string> processedNames() const;
    void release();

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable released;
        bool open = false;
        std::vector<std::string> names;
    };
    ScopedProcessingOptions savedOptions_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    BatchRun run_;
};

/// Waits, spinning the event loop, until the run is over and every row has
/// reached the view; false on timeout.
bool waitForRunToFinish(BatchRun& run, int timeoutMs = 5000);

std::unique_ptr<QMimeData> fileDrop(const std::vector<std::filesystem::path>& paths);

}  // namespace meridane::testing
