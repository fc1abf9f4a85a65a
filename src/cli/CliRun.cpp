// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliRun.h"

#include "cli/JsonLines.h"
#include "cli/ReportStream.h"
#include "cli/RunCommands.h"
#include "cli/StopSignals.h"
#include "engine/BatchRun.h"
#include "base/ControlText.h"
#include "base/Diagnostics.h"
#include "engine/Report.h"
#include "engine/RunHistory.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <dirent.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <utility>

namespace meridane::cli {
namespace {

using Clock = std::chrono::steady_clock;

void write(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

// Paths that cannot be read get a plain message, so a typo or a missing
// permission is not silently ignored; the run goes on with the others, and
// the exit status says that something was not done. Returns whether any was.
bool reportUnreadablePaths(const std::vector<std::filesystem::path>& paths, std::FILE* err) {
    bool any = false;
    auto complain = [&](const char* what, const std::filesystem::path& path, int error) {
        write(err, std::string("meridane-cli: ") + what + " '" + text::escapedControls(path.native()) +
                       "': " + std::strerror(error) + "\n");
        any = true;
    };
    for (const std::filesystem::path& path : paths) {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) {
            complain("cannot access", path, errno);
        } else if (S_ISDIR(status.st_mode)) {
            DIR* dir = ::opendir(path.c_str());
            if (dir)
                ::closedir(dir);
            else
                complain("cannot read folder", path, errno);
        } else if (::access(path.c_str(), R_OK) != 0) {
            complain("cannot read", path, errno);
        }
    }
    return any;
}

int terminalColumns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

std::string formatDuration(double seconds) {
    const long total = static_cast<long>(seconds + 0.5);
    if (total < 60)
        return std::to_string(total) + "s";
    const long minutes = total / 60;
    if (minutes < 60)
        return std::to_string(minutes) + "m " + std::to_string(total % 60) + "s";
    return std::to_string(minutes / 60) + "h " + std::to_string(minutes % 60) + "m";
}

// "Processed 12/340 • IMG_0012.HEIC • 85 files/s • 4s left", kept to one
// terminal line and redrawn at most ten times a second.
class ProgressLine {
public:
    ProgressLine(std::FILE* err, bool enabled) : err_(err), enabled_(enabled), started_(Clock::now()) {}

    void update(std::int64_t processed, std::int64_t total, const std::string& name) {
        if (!enabled_)
            return;
        const Clock::time_point now = Clock::now();
        if (processed < total && now - lastDrawn_ < std::chrono::milliseconds(100))
            return;
        lastDrawn_ = now;
        const double elapsed = std::chrono::duration<double>(now - started_).count();
        std::string line = "Processed " + std::to_string(processed) + "/" + std::to_string(total) + " \u2022 " +
                           text::escapedControls(name);
        if (elapsed > 0.2 && processed > 0) {
            const double rate = static_cast<double>(processed) / elapsed;
            line += " \u2022 " + std::to_string(static_cast<long>(rate + 0.5)) + " files/s \u2022 " +
                    formatDuration(static_cast<double>(total - processed) / rate) + " left";
        }
        write(err_, "\r\x1b[2K" + fitted(line, terminalColumns(err_) - 1));
        std::fflush(err_);
        drawn_ = true;
    }

    void clear() {
        if (std::exchange(drawn_, false)) {
            write(err_, "\r\x1b[2K");
            std::fflush(err_);
        }
    }

private:
    // Cuts at a character boundary so that the line never wraps.
    static std::string fitted(const std::string& line, int columns) {
        int seen = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80)
                continue;
            if (++seen > columns)
                return line.substr(0, i);
        }
        return line;
    }

    std::FILE* err_;
    bool enabled_;
    bool drawn_ = false;
    Clock::time_point started_;
    Clock::time_point lastDrawn_{};
};

std::string summary(const BatchRun& run, double seconds) {
    if (run.totalCount() == 0)
        return "Summary: no media files found\n";
    const BatchRun::CaseCounts& counts = run.resultCounts();
    std::string text = "Summary: " + std::to_string(run.processedCount()) +
                       (run.processedCount() == 1 ? " file in " : " files in ") +
                       std::to_string(static_cast<long>(seconds * 1000 + 0.5)) + " ms \u2014";
    using Case = ProcessingResult::Case;
    const bool dryRun = run.options().dryRun && run.undoneRunId().empty();
    const std::pair<Case, std::string_view> words[] = {
        {Case::updated, dryRun ? "would update" : "updated"},
        {Case::alreadyCorrect, "already correct"},
        {Case::withinTolerance, "within tolerance"},
        {Case::restored, "restored"},
        {Case::notRestored, "not restored"},
        {Case::fileNotFound, "not found"},
        {Case::unsupportedFile, "unsupported"},
        {Case::skippedMissing, "skipped: missing"},
        {Case::skippedNonApple, "skipped: other camera"},
        {Case::skippedDifferentGPS, "skipped: GPS differs"},
        {Case::failed, "failed"}};
    static_assert(std::size(words) == ProcessingResult::kCaseCount);
    bool first = true;
    for (const auto& [resultCase, word] : words) {
        const std::int64_t count = counts[static_cast<size_t>(resultCase)];
        if (!count)
            continue;
        text += (first ? " " : ", ") + std::to_string(count) + " " + std::string(word);
        first = false;
    }
    std::int64_t hidden = 0;
    if (run.options().silentlyIgnoreSkipped)
        for (size_t i = 0; i < counts.size(); ++i)
            if (BatchRun::isHiddenWhenSilent(static_cast<ProcessingResult::Case>(i)))
                hidden += counts[i];
    if (hidden > 0)
        text += " (" + std::to_string(hidden) + " left out of the report by --silently-ignore-skipped)";
    text += "\n";
    if (run.options().dryRun && counts[static_cast<size_t>(ProcessingResult::Case::updated)] > 0)
        text += "Dry run: nothing was written; run with --write to update the sidecars.\n";
    return text;
}

}  // namespace

int runCommandLine(const CliOptions& options, const CliOutput& output) {
    std::FILE* err = output.err;
    const std::filesystem::path runsFolder = RunHistory::defaultFolder();
    if (options.command == CliOptions::Command::listRuns)
        return listRuns(runsFolder, output.out, err);
    if (options.command == CliOptions::Command::forgetRuns)
        return forgetRuns(runsFolder, output.out, err);
    const bool undo = options.command == CliOptions::Command::undo;
    // Without --debug the diagnostic lines are dropped where they arise.
    diag::Sink debugLines = &diag::discard;
    if (options.debug) {
        debugLines = [err](std::string_view line) {
            write(err, line);
            std::fputc('\n', err);
        };
    }
    diag::ScopedSink sink(std::move(debugLines));
    const bool unreadable = !undo && reportUnreadablePaths(options.paths, err);

    BatchRun run;
    StopSignals stopSignals([&run](int) {
        if (run.isProcessing())
            run.stopAfterFilesInFlight();
    });
    run.setOptions(options.processing);  // the CLI has no folder prompt
    // Each row is printed as it comes and then forgotten, so that an undo of
    // a million sidecars runs in the memory of a few.
    run.setKeepsResults(false);
    const bool silent = options.processing.silentlyIgnoreSkipped;
    ProgressLine progress(err, output.progress && !options.debug);
    const bool rowsOnTerminal = ::isatty(::fileno(output.out)) == 1;
    ReportStream report(output.out);
    // Rows nobody can read are lost rows: the run stops as after SIGINT.
    const auto writeReport = [&](const std::string& text) {
        if (!report.write(text) && run.isProcessing())
            run.stopAfterFilesInFlight();
    };
    QObject::connect(&run, &BatchRun::resultRecorded, &run, [&](const ProcessingResultDetail& detail) {
        if (!(silent && BatchRun::isHiddenWhenSilent(detail.result.resultCase()))) {
            if (rowsOnTerminal)
                progress.clear();  // a row must not be written after the progress text
            writeReport((options.json ? jsonLine(detail) : resultLine(detail)) + "\n");
        }
        progress.update(run.processedCount(), run.totalCount(), run.currentFile());
    });

    const Clock::time_point started = Clock::now();
    if (undo) {
        const RunHistory history(runsFolder);
        const std::optional<KeptRun> target =
            options.undoRun.empty() ? history.latestUndoable() : history.find(options.undoRun);
        if (!target) {
            write(err, options.undoRun.empty()
                           ? "meridane-cli: no run to undo in " + text::escapedControls(runsFolder.native()) + "\n"
                           : "meridane-cli: no kept run has the id '" + text::escapedControls(options.undoRun) +
                                 "' (see --list-runs)\n");
            return 1;
        }
        run.undoRun(target->id);
    } else {
        run.processPaths(options.paths);
    }
    if (!options.json)
        writeReport(reportHeader(run.options(), std::chrono::system_clock::now(), run.undoneRunId()) + "\n");
    if (run.isProcessing()) {
        // The paths are searched first; when they hold no media file the run
        // ends with that search and no runFinished follows.
        QEventLoop loop;
        const auto quitWhenIdle = [&run, &loop] {
            if (!run.isProcessing())
                loop.quit();
        };
        QObject::connect(&run, &BatchRun::collectingFinished, &loop, quitWhenIdle);
        QObject::connect(&run, &BatchRun::runFinished, &loop, quitWhenIdle);
        loop.exec();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    progress.clear();

    report.flush();
    write(err, summary(run, seconds));
    if (run.lastJournal().replaced > 0)
        write(err, "Kept as run " + run.lastJournal().id + "; meridane-cli --undo=" + run.lastJournal().id +
                       " puts its sidecars back\n");
    if (const int signal = stopSignals.received()) {
        write(err, "meridane-cli: stopped by " + std::string(signal == SIGINT ? "SIGINT" : "SIGTERM") + " after " +
                       std::to_string(run.processedCount()) + " of " + std::to_string(run.totalCount()) +
                       " files; the others were not started\n");
        std::fflush(err);
        return 128 + signal;
    }
    if (report.failed()) {
        std::string text = "meridane-cli: cannot write the report: " + report.reason();
        if (run.processedCount() < run.totalCount())
            text += "; stopped after " + std::to_string(run.processedCount()) + " of " +
                    std::to_string(run.totalCount()) + " files; the others were not started";
        write(err, text + "\n");
        std::fflush(err);
        return 1;
    }
    std::fflush(err);

    if (unreadable)
        return 1;
    return run.resultCounts()[static_cast<size_t>(ProcessingResult::Case::failed)] > 0 ? 1 : 0;
}

bool showsProgress(int outFd, int errFd) {
    if (::isatty(errFd) != 1)
        return false;
    // Rows going into a pipe mostly reach this same terminal (tee, less,
    // grep), where a progress line redrawn on standard error would cut them.
    struct stat out {};
    return ::fstat(outFd, &out) != 0 || !(S_ISFIFO(out.st_mode) || S_ISSOCK(out.st_mode));
}

int cliMain(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    switch (parsed.action) {
    case ParsedCommandLine::Action::help:
        write(stdout, usageText());
        return 0;
    case ParsedCommandLine::Action::version:
        write(stdout, versionText());
        return 0;
    case ParsedCommandLine::Action::usageError:
        write(stderr, "meridane-cli: " + parsed.error + "\nTry 'meridane-cli --help' for more information.\n");
        return 2;
    case ParsedCommandLine::Action::run:
        break;
    }
    QCoreApplication app(argc, argv);
    CliOutput output;
    output.progress = showsProgress(STDOUT_FILENO, STDERR_FILENO);
    return runCommandLine(parsed.options, output);
}

}  // namespace meridane::cli
