// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the window tests: a batch run whose files are turned into
// results by their names, a wait for the run to end, the window and its content.
#pragma once

#include "engine/BatchRun.h"
#include "engine/ProcessingOptions.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/ResultsModel.h"
#include "ui/ResultsSection.h"
#include "ui/RunFlow.h"
#include "ui/UpdateChecker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <optional>
#include <utility>

namespace meridane::testing {

using Paths = std::vector<std::filesystem::path>;

/// A batch run (its own or a window's) whose pipeline answers by the file's
/// name: "failed…" fails, "correct…" is already correct, "long…" fails with a
/// long message, others are updated. Files named "hold…" wait for release().
class FakeRun {
public:
    explicit FakeRun(BatchRun* other = nullptr);
    ~FakeRun() { release(); }
    BatchRun& run() { return run_; }
    int started() const { return *started_; }
    void release() { if (!std::exchange(released_, true)) held_->count_down(); }

private:
    ScopedProcessingOptions savedOptions_{ProcessingOptionValues{}};
    std::shared_ptr<std::latch> held_ = std::make_shared<std::latch>(1);
    std::shared_ptr<std::atomic<int>> started_ = std::make_shared<std::atomic<int>>(0);
    bool released_ = false;
    BatchRun ownRun_;
    BatchRun& run_;
};

/// Spins the event loop until the run is over and its rows are shown.
bool waitForRunToFinish(BatchRun& run, int timeoutMs = 5000);

/// The window's content at the size of a small window, on a FakeRun unless
/// the test reads and writes its files for real.
class ViewTest : public ::testing::Test {
protected:
    explicit ViewTest(bool realPipeline = false) : view(run) {
        if (!realPipeline)
            fake.emplace(&run);
        view.resize(640, 720);
        view.show();
    }
    ui::ResultsSection& section() { return *view.resultsSection(); }
    ui::ResultsModel& model() { return *section().model(); }
    QString line(int row) { return model().index(row).data(ui::ResultsModel::LineRole).toString(); }
    /// Every row's text in that role, in the list's order.
    QStringList lines(int role = ui::ResultsModel::LineRole) {
        QStringList all;
        for (int i = 0; i < model().rowCount(); ++i)
            all << model().index(i).data(role).toString();
        return all;
    }
    bool runFiles(const Paths& paths) { return view.handleDrop(paths) && waitForRunToFinish(run); }

    ScopedProcessingOptions savedOptions{ProcessingOptionValues{}};
    BatchRun run;
    std::optional<FakeRun> fake;
    ui::ContentView view;
};

/// The main window, keeping no runs, on a FakeRun unless the test reads and
/// writes its files for real; it notes each confirmation and gives `answer`.
class MainWindowTest : public ::testing::Test {
protected:
    explicit MainWindowTest(bool realPipeline = false) : window(new ui::UpdateChecker(QUrl(), QStringLiteral("0.1.0"))) {
        if (!realPipeline)
            fake.emplace(&window.run());
        window.run().setRunsFolder({});
        flow().setConfirmation([this](const QString&, const QString& question, const QString& detail, const QString&) {
            asked.push_back(question + QLatin1Char('\n') + detail);
            return answer;
        });
        window.show();
    }
    ui::RunFlow& flow() { return *window.flow(); }
    ui::ResultsSection& section() { return *window.content()->resultsSection(); }
    bool runFiles(const Paths& paths) {
        return window.content()->handleDrop(paths) && waitForRunToFinish(window.run());
    }

    ui::MainWindow window;
    std::optional<FakeRun> fake;
    std::vector<QString> asked;
    bool answer = true;
};

struct RealWindowTest : MainWindowTest {
    RealWindowTest() : MainWindowTest(/*realPipeline=*/true) {}
};

}  // namespace meridane::testing
