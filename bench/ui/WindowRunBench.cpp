// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real window (offscreen) through a run of many generated files
// and reports the longest stall of the GUI event loop, the drop included, and
// the memory taken per row, with the list narrowed by a filter and a name
// search the whole time; then fills the list with 50,000 rows and times
// appending, scrolling and resizing (rows wrap to the width). Targets: no stall
// over 50 ms, scroll steps under 16 ms, under 2 KB of memory per row.
//
// Usage: meridane_ui_bench [--files N] [--rows N] [--fixture IMAGE]
// The fixture is an image with its .xmp sidecar beside it; the bench makes N
// hard links to the pair (copies where links fail). The run is a dry run.
#include "engine/BatchRun.h"
#include "base/Diagnostics.h"
#include "ui/ContentView.h"
#include "ui/ResultsModel.h"
#include "ui/ResultsSection.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using namespace meridane;

namespace {

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

/// Measures the longest gap between ticks of a 1 ms timer, in wall time and
/// in CPU time of the GUI thread: on a busy machine the wall gap also holds
/// time the thread waited for a core, the CPU gap only the window's own work.
class StallMeter {
public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const double now = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
            const double cpu = threadCpuMs();
            longestMs_ = std::max(longestMs_, now - lastMs_);
            longestCpuMs_ = std::max(longestCpuMs_, cpu - lastCpuMs_);
            lastMs_ = now;
            lastCpuMs_ = cpu;
        });
    }
    void start() {
        clock_.start();
        lastMs_ = 0;
        lastCpuMs_ = threadCpuMs();
        longestMs_ = 0;
        longestCpuMs_ = 0;
        timer_.start();
    }
    void stop() { timer_.stop(); }
    qint64 elapsedNs() const { return clock_.nsecsElapsed(); }
    double longestMs() const { return longestMs_; }
    double longestCpuMs() const { return longestCpuMs_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    double lastMs_ = 0;
    double lastCpuMs_ = 0;
    double longestMs_ = 0;
    double longestCpuMs_ = 0;
};

std::optional<fs::path> findFixture(const char* given) {
    auto hasSidecar = [](const fs::path& image) {
        fs::path sidecar = image;
        sidecar.replace_extension("xmp");
        return fs::exists(image) && fs::exists(sidecar);
    };
    if (given)
        return hasSidecar(given) ? std::optional<fs::path>(given) : std::nullopt;
    std::error_code error;
    for (const fs::path& folder : {fs::path(MERIDANE_SOURCE_DIR) / "samples", fs::path(MERIDANE_CORPUS_DIR) / "heic"}) {
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            std::string ext = it->path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if ((ext == ".heic" || ext == ".heif" || ext == ".dng") && hasSidecar(it->path()))
                return it->path();
        }
    }
    return std::nullopt;
}

void linkOrCopy(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::create_hard_link(from, to, error);
    if (error)
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

fs::path makeFiles(const fs::path& fixture, int count) {
    const fs::path folder = fs::temp_directory_path() / ("meridane-ui-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::path sidecar = fixture;
    sidecar.replace_extension("xmp");
    const std::string extension = fixture.extension().string();
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%05d", i);
        linkOrCopy(fixture, folder / (std::string(name) + extension));
        linkOrCopy(sidecar, folder / (std::string(name) + ".xmp"));
    }
    return folder;
}

void realRun(ui::ContentView& view, BatchRun& run, const fs::path& fixture, int files) {
    std::printf("real run: %d files made from %s\n", files, fixture.filename().c_str());
    const fs::path folder = makeFiles(fixture, files);

    // The list narrowed as someone reviewing a big run has it: problems only,
    // names holding "IMG_1" (half of them).
    ui::ResultsModel* model = view.resultsSection()->model();
    model->setFilter(ui::ResultsModel::Filter::problems);
    model->setSearchText(QStringLiteral("img_1"));
    QApplication::processEvents();
    const long before = residentKiB();
    StallMeter stalls;
    double searchedMs = -1;
    const QObject scope;  // ends the connection with this function
    QObject::connect(&run, &BatchRun::collectingFinished, &scope,
                     [&] { searchedMs = static_cast<double>(stalls.elapsedNs()) / 1e6; });
    // The stall figure covers the drop too: the folder is searched on a
    // worker while the window keeps answering.
    stalls.start();
    QElapsedTimer clock;
    clock.start();
    view.handleDrop(std::vector<fs::path>{folder});
    std::printf("  the drop call on the GUI thread: %.1f ms\n", static_cast<double>(clock.nsecsElapsed()) / 1e6);
    while (run.isProcessing())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    stalls.stop();
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    const long after = residentKiB();

    std::printf("  folder searched after %.1f ms\n", searchedMs);
    std::printf("  results %lld, rows shown %d, %.1f s (%.0f files/s)\n",
                static_cast<long long>(run.processedCount()), view.resultsSection()->model()->rowCount(), seconds,
                static_cast<double>(run.processedCount()) / seconds);
    std::printf("  longest event-loop stall, drop included: %.1f ms wall, %.1f ms of GUI-thread CPU (target < 50 ms)\n",
                stalls.longestMs(), stalls.longestCpuMs());
    std::printf("  memory growth: %.0f bytes per row (target < 2048), peak RSS %.1f MiB\n",
                static_cast<double>(after - before) * 1024.0 / std::max<std::int64_t>(1, run.processedCount()),
                static_cast<double>(peakResidentKiB()) / 1024.0);
    // Changing the filter or the search rebuilds the rows on the GUI thread.
    double slowestChange = 0;
    const std::pair<ui::ResultsModel::Filter, const char*> changes[] = {
        {ui::ResultsModel::Filter::all, "img_1"}, {ui::ResultsModel::Filter::all, ""},
        {ui::ResultsModel::Filter::problems, ""}, {ui::ResultsModel::Filter::changes, "img_19"}};
    for (const auto& [filter, search] : changes) {
        QElapsedTimer change;
        change.start();
        model->setFilter(filter);
        model->setSearchText(QString::fromLatin1(search));
        QApplication::processEvents();
        view.resultsSection()->list()->viewport()->repaint();
        slowestChange = std::max(slowestChange, static_cast<double>(change.nsecsElapsed()) / 1e6);
    }
    std::printf("  slowest change of filter or search over %lld rows (+ repaint): %.1f ms (target < 50 ms)\n",
                static_cast<long long>(run.processedCount()), slowestChange);
    model->setFilter(ui::ResultsModel::Filter::all);
    model->setSearchText({});
    std::error_code error;
    fs::remove_all(folder, error);
}

ProcessingResult sampleResult(int i) {
    switch (i % 4) {
    case 0:
        return ProcessingResult::updated({"[DRY RUN] would update: exif:GPSLatitude = 37.33182000N",
                                          "[DRY RUN] would update: exif:GPSLongitude = 122.03118000W"});
    case 1:
        return ProcessingResult::alreadyCorrect();
    case 2:
        return ProcessingResult::skippedDifferentGPS({{"Latitude", "37.3318", "48.8584"}});
    default:
        return ProcessingResult::failed("Permission denied for XMP sidecar");
    }
}

void bigList(ui::ContentView& view, BatchRun& run, int rows) {
    std::printf("list of %d rows fed to the run state\n", rows);
    run.processPaths({});  // clears the last run
    while (run.isProcessing())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    const long before = residentKiB();
    QElapsedTimer clock;
    clock.start();
    constexpr int chunk = 250;  // about what a fast run delivers between two list updates
    double slowestChunk = 0;
    double slowestEvents = 0;
    QElapsedTimer step;
    step.start();
    for (int i = 0; i < rows; ++i) {
        char name[80];
        std::snprintf(name, sizeof name, "/home/someone/Pictures/Export 2024/Holiday/IMG_%05d.HEIC", i);
        run.recordResult(name, sampleResult(i));
        if (i % chunk == chunk - 1) {
            slowestChunk = std::max(slowestChunk, static_cast<double>(step.nsecsElapsed()) / 1e6);
            step.start();
            QApplication::processEvents();
            slowestEvents = std::max(slowestEvents, static_cast<double>(step.nsecsElapsed()) / 1e6);
            step.start();
        }
    }
    std::printf("  slowest %d recordResult calls: %.1f ms; slowest pass of the event loop: %.1f ms\n", chunk,
                slowestChunk, slowestEvents);
    QApplication::processEvents();
    QApplication::sendPostedEvents();
    ui::ResultsModel* model = view.resultsSection()->model();
    model->flushPending();
    QApplication::processEvents();
    const long after = residentKiB();
    std::printf("  rows shown %d after %.2f s\n", model->rowCount(), static_cast<double>(clock.elapsed()) / 1000.0);
    std::printf("  memory growth: %.0f bytes per row (target < 2048)\n",
                static_cast<double>(after - before) * 1024.0 / rows);

    // Scroll from top to bottom in 100 steps, painting each.
    QScrollBar* bar = view.resultsSection()->list()->verticalScrollBar();
    QWidget* viewport = view.resultsSection()->list()->viewport();
    double slowestPaint = 0;
    for (int step = 0; step <= 100; ++step) {
        QElapsedTimer paint;
        paint.start();
        bar->setValue(bar->maximum() * step / 100);
        viewport->repaint();
        slowestPaint = std::max(slowestPaint, static_cast<double>(paint.nsecsElapsed()) / 1e6);
    }
    std::printf("  slowest scroll step (move + repaint): %.1f ms (target < 16 ms)\n", slowestPaint);

    // Rows wrap to the list's width: a resize lays the rows out again.
    double slowestResize = 0;
    for (const int width : {1000, 480, 640}) {
        QElapsedTimer resize;
        resize.start();
        view.resize(width, 720);
        QApplication::processEvents();
        viewport->repaint();
        slowestResize = std::max(slowestResize, static_cast<double>(resize.nsecsElapsed()) / 1e6);
    }
    std::printf("  slowest resize with the rows wrapped again (+ repaint): %.1f ms (target < 50 ms)\n", slowestResize);
    const bool filterOn = true;
    QElapsedTimer filter;
    filter.start();
    ProcessingOptionValues options = run.options();
    options.silentlyIgnoreSkipped = filterOn;
    run.setOptions(options);
    QApplication::processEvents();
    std::printf("  switching the filter on: %.1f ms, rows shown %d\n", static_cast<double>(filter.nsecsElapsed()) / 1e6,
                model->rowCount());
}

const char* argument(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int files = argument(argc, argv, "--files") ? std::atoi(argument(argc, argv, "--files")) : 20000;
    const int rows = argument(argc, argv, "--rows") ? std::atoi(argument(argc, argv, "--rows")) : 50000;

    BatchRun run;
    ui::ContentView view(run);
    view.resize(640, 720);
    view.show();
    QApplication::processEvents();

    // The pipeline's diagnostics would dominate the run's time on a terminal.
    const diag::ScopedSink quiet([](std::string_view) {});
    if (const auto fixture = findFixture(argument(argc, argv, "--fixture")))
        realRun(view, run, *fixture, files);
    else
        std::printf("real run skipped: no image with a sidecar found (pass --fixture IMAGE)\n");
    bigList(view, run, rows);
    return 0;
}
