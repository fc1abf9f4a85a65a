// SPDX-License-Identifier: GPL-3.0-or-later
// How close the whole job comes to the cost of the disk accesses it cannot
// avoid. Generates photo+sidecar pairs in a temporary folder (most sidecars
// needing an update, some correct, some naming another place, some without
// GPS), then times, on the same files:
//   dry-run floor: for each pair, the image opened, its metadata ranges read
//                  (as many reads and bytes as the image reader makes for
//                  that kind of image, read-ahead off as the reader has it)
//                  and closed; the sidecar opened, read whole and closed;
//                  one file after the other on one thread;
//   dry run:       meridane-cli's core, dry run (the walk of the folders,
//                  two files in flight, the report);
//   write floor:   the dry-run floor plus writing each sidecar to a temporary
//                  file, flushing it to disk and renaming it over the sidecar;
//   write run:     meridane-cli's core with --write, keeping its journal for undo;
//   no journal:    the same write run with no journal kept,
// (the two write runs alternate over the same sidecars, put back between
// runs), the journal's flushes and size against the sidecars it replaced,
// and the peak memory of the process. Each figure is the median of several
// rounds, with the fastest and slowest round beside it; the floor and the
// run it is compared with alternate within each round.
//
// Usage: meridane_pipeline_bench [--pairs N] [--rounds N] [--cold] [--keep] [--dry-only]
//   --pairs N   pairs in the tree (10,000; 2,000 shows the fixed costs)
//   --rounds N  rounds per figure (5)
//   --cold      also the dry run and its floor from a cold cache: the page,
//               dentry and inode caches are dropped before each of them
//               (needs root; skipped with a message otherwise)
// (--keep --dry-only leaves a tree as generated, to profile the CLI on.)
#include "cli/CliRun.h"
#include "engine/BatchRun.h"
#include "base/Diagnostics.h"
#include "imagemeta/ImageMetadata.h"
#include "imagemeta/ReadStats.h"
#include "base/GPSText.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace meridane;

namespace {

constexpr size_t kImageBytes = 80 * 1024;  // more than the 64 KiB the floor reads
constexpr size_t kFilesPerFolder = 100;

struct Template {
    fs::path image;
    std::string extension;
    std::string latitude;   // the sidecar text an exact match carries
    std::string longitude;
    std::string latitudeRef;
    std::string longitudeRef;
};

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeWhole(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The sample image, grown to a realistic size without changing what it says:
// a "free" box at the end of a HEIC, trailing bytes after a TIFF/DNG.
std::string paddedImage(const std::string& original, const std::string& extension) {
    std::string bytes = original;
    if (bytes.size() + 8 >= kImageBytes)
        return bytes;
    const size_t padding = kImageBytes - bytes.size();
    if (extension == "HEIC") {
        const auto size = static_cast<std::uint32_t>(padding);
        bytes.push_back(static_cast<char>(size >> 24));
        bytes.push_back(static_cast<char>((size >> 16) & 0xFF));
        bytes.push_back(static_cast<char>((size >> 8) & 0xFF));
        bytes.push_back(static_cast<char>(size & 0xFF));
        bytes.append("free");
        bytes.append(padding - 8, '\0');
    } else {
        bytes.append(padding, '\0');
    }
    return bytes;
}

std::string sidecarXml(const std::string& gpsElements) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 6.0.0\">\n"
           "   <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "      <rdf:Description rdf:about=\"\"\n"
           "            xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
           "            xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"\n"
           "            xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
           "         <dc:title>\n"
           "            <rdf:Alt>\n"
           "               <rdf:li xml:lang=\"x-default\">Holiday</rdf:li>\n"
           "            </rdf:Alt>\n"
           "         </dc:title>\n" +
           gpsElements +
           "         <photoshop:DateCreated>2023-10-28T14:02:11</photoshop:DateCreated>\n"
           "      </rdf:Description>\n"
           "   </rdf:RDF>\n"
           "</x:xmpmeta>\n";
}

std::string gpsElements(const std::string& lat, const std::string& lon, const std::string& latRef,
                        const std::string& lonRef) {
    return "         <exif:GPSLatitude>" + lat + "</exif:GPSLatitude>\n" + "         <exif:GPSLongitude>" + lon +
           "</exif:GPSLongitude>\n" + "         <exif:GPSLatitudeRef>" + latRef + "</exif:GPSLatitudeRef>\n" +
           "         <exif:GPSLongitudeRef>" + lonRef + "</exif:GPSLongitudeRef>\n";
}

Template makeTemplate(const std::string& name) {
    Template t;
    t.image = fs::path(MERIDANE_SAMPLES_DIR) / name;
    t.extension = name.substr(name.rfind('.') + 1);
    const std::optional<Coordinate> position = readImageGPS(t.image);
    if (!position) {
        std::fprintf(stderr, "cannot read the position of %s\n", t.image.c_str());
        std::exit(1);
    }
    t.latitudeRef = expectedLatitudeRef(position->latitude);
    t.longitudeRef = expectedLongitudeRef(position->longitude);
    t.latitude = expectedCoordinateText(position->latitude, t.latitudeRef);
    t.longitude = expectedCoordinateText(position->longitude, t.longitudeRef);
    return t;
}

struct Pair {
    fs::path image;
    fs::path sidecar;
    std::string sidecarBytes;  // as generated
    ReadStats imageReads;      // what the image reader reads of this image
};

struct Mix {
    size_t needsUpdate = 0, correct = 0, different = 0, noGPS = 0;
};

std::vector<Pair> generateTree(const fs::path& root, size_t pairs, Mix& mix) {
    diag::ScopedSink quiet([](std::string_view) {});
    const std::vector<Template> templates = {makeTemplate("IMG_0001.HEIC"), makeTemplate("IMG_0002.HEIC"),
                                             makeTemplate("IMG_0003.HEIC"), makeTemplate("IMG_0004.DNG")};
    std::vector<std::string> images;
    for (const Template& t : templates)
        images.push_back(paddedImage(readWhole(t.image), t.extension));
    std::vector<ReadStats> imageReads(templates.size());

    std::vector<Pair> result;
    result.reserve(pairs);
    for (size_t i = 0; i < pairs; ++i) {
        const size_t which = i % templates.size();
        const Template& t = templates[which];
        std::string folderName = std::to_string(i / kFilesPerFolder);
        folderName.insert(0, folderName.size() < 3 ? 3 - folderName.size() : 0, '0');
        const fs::path folder = root / folderName;
        if (i % kFilesPerFolder == 0)
            fs::create_directories(folder);
        std::string stem = std::to_string(i);
        stem.insert(0, stem.size() < 5 ? 5 - stem.size() : 0, '0');
        stem.insert(0, "IMG_");
        Pair pair{folder / (std::string(stem) + "." + t.extension), folder / (std::string(stem) + ".xmp"), {}, {}};
        writeWhole(pair.image, images[which]);
        // Every image of a template is laid out alike: the reader's reads of
        // the first stand for all of them.
        if (i == which)
            (void)readImageGPS(pair.image, &imageReads[which]);
        pair.imageReads = imageReads[which];

        // 70 % need an update (decimal texts without the letter), 15 % are
        // correct, 10 % name another place, 5 % carry no GPS.
        const size_t bucket = (i * 37) % 100;
        std::string gps;
        if (bucket < 70) {
            gps = gpsElements(t.latitude.substr(0, t.latitude.size() - 1),
                              t.longitude.substr(0, t.longitude.size() - 1), t.latitudeRef, t.longitudeRef);
            ++mix.needsUpdate;
        } else if (bucket < 85) {
            gps = gpsElements(t.latitude, t.longitude, t.latitudeRef, t.longitudeRef);
            ++mix.correct;
        } else if (bucket < 95) {
            gps = gpsElements("10.00000000S", "20.00000000W", "S", "W");
            ++mix.different;
        } else {
            ++mix.noGPS;
        }
        pair.sidecarBytes = sidecarXml(gps);
        writeWhole(pair.sidecar, pair.sidecarBytes);
        result.push_back(std::move(pair));
    }
    return result;
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The image's metadata ranges: as many reads, and as many bytes, as the
// image reader makes, with read-ahead off as the reader has it (on a cold
// cache the kernel would otherwise fetch picture data that nobody reads).
size_t readImageMetadata(const Pair& pair, std::vector<char>& buffer) {
    const int fd = ::open(pair.image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    const std::uint64_t calls = std::max<std::uint64_t>(pair.imageReads.readCalls, 1);
    const std::uint64_t bytes = pair.imageReads.bytesRead;
    buffer.resize(bytes);
    size_t total = 0;
    for (std::uint64_t call = 0; call < calls; ++call) {
        const size_t length = bytes * (call + 1) / calls - total;
        const ssize_t n = ::pread(fd, buffer.data() + total, length, static_cast<off_t>(total));
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
    }
    ::close(fd);
    return total;
}

std::string readSidecar(const fs::path& path) {
    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    char chunk[16384];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
        bytes.append(chunk, static_cast<size_t>(n));
    ::close(fd);
    return bytes;
}

// The reads every dry run must make, one pair after the other.
size_t floorReads(const std::vector<Pair>& pairs, size_t first, size_t step) {
    std::vector<char> buffer;
    size_t checksum = 0;
    for (size_t i = first; i < pairs.size(); i += step) {
        checksum += readImageMetadata(pairs[i], buffer);
        checksum += readSidecar(pairs[i].sidecar).size();
    }
    return checksum;
}

double dryRunFloor(const std::vector<Pair>& pairs, size_t& checksum) {
    const Clock::time_point start = Clock::now();
    checksum += floorReads(pairs, 0, 1);
    return secondsSince(start);
}

// The same reads shared by two threads, as the run has two files in flight.
double dryRunFloorTwoThreads(const std::vector<Pair>& pairs, size_t& checksum) {
    size_t other = 0;
    const Clock::time_point start = Clock::now();
    std::thread second([&] { other = floorReads(pairs, 1, 2); });
    checksum += floorReads(pairs, 0, 2);
    second.join();
    checksum += other;
    return secondsSince(start);
}

// The dry-run floor plus writing each sidecar to a temporary file beside it,
// flushing it to disk and renaming it over the sidecar (same bytes).
double writeRunFloor(const std::vector<Pair>& pairs, size_t& checksum) {
    std::vector<char> buffer;
    const Clock::time_point start = Clock::now();
    for (const Pair& pair : pairs) {
        checksum += readImageMetadata(pair, buffer);
        const std::string bytes = readSidecar(pair.sidecar);
        checksum += bytes.size();
        std::string tempName = ".";
        tempName.append(pair.sidecar.filename().native()).append(".tmp");
        const fs::path temp = pair.sidecar.parent_path() / tempName;
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
            ::fsync(fd) != 0) {
            std::perror("write floor");
            std::exit(1);
        }
        ::close(fd);
        if (::rename(temp.c_str(), pair.sidecar.c_str()) != 0) {
            std::perror("rename");
            std::exit(1);
        }
    }
    return secondsSince(start);
}

double cliRun(const fs::path& root, bool write, int& status) {
    cli::CliOptions options;
    options.processing.dryRun = !write;
    options.paths = {root};
    std::FILE* devNull = std::fopen("/dev/null", "w");
    const Clock::time_point start = Clock::now();
    status = cli::runCommandLine(options, cli::CliOutput{devNull, devNull, false});
    const double seconds = secondsSince(start);
    std::fclose(devNull);
    return seconds;
}

// The batch run's own share: grouping, hand-offs between threads and
// recording, with files that take no time.
double batchOverhead(const fs::path& root) {
    diag::ScopedSink quiet([](std::string_view) {});
    BatchRun run;
    run.setFileProcessor([](const fs::path&, FolderAccessPrompt*) { return ProcessingResult::alreadyCorrect(); });
    QEventLoop loop;
    QObject::connect(&run, &BatchRun::runFinished, &loop, &QEventLoop::quit);
    const Clock::time_point start = Clock::now();
    run.processPaths({root});
    if (run.isProcessing())
        loop.exec();
    return secondsSince(start);
}

struct WriteRun {
    double seconds = 1e9;
    RunJournalInfo journal;
    std::uint64_t journalBytes = 0, replacedBytes = 0;
};

// One write run over the tree as generated, its journal kept in `runsFolder`
// (none when empty); the sidecars are put back afterwards.
WriteRun writeRun(const fs::path& root, const std::vector<Pair>& pairs, const fs::path& runsFolder) {
    diag::ScopedSink quiet([](std::string_view) {});
    BatchRun run;
    ProcessingOptionValues options;
    options.dryRun = false;
    run.setOptions(options);
    run.setRunsFolder(runsFolder);
    QEventLoop loop;
    QObject::connect(&run, &BatchRun::runFinished, &loop, &QEventLoop::quit);
    WriteRun result;
    const Clock::time_point start = Clock::now();
    run.processPaths({root});
    if (run.isProcessing())
        loop.exec();
    result.seconds = secondsSince(start);
    result.journal = run.lastJournal();
    std::error_code ec;
    if (!result.journal.file.empty())
        result.journalBytes = fs::file_size(result.journal.file, ec);
    for (const Pair& pair : pairs)
        if (readSidecar(pair.sidecar) != pair.sidecarBytes) {
            result.replacedBytes += pair.sidecarBytes.size();
            writeWhole(pair.sidecar, pair.sidecarBytes);
        }
    if (!result.journal.file.empty())
        fs::remove(result.journal.file, ec);
    return result;
}

// The rounds of one figure: the median, and the fastest and slowest round.
struct Rounds {
    std::vector<double> seconds;

    void add(double s) { seconds.push_back(s); }
    double at(double fraction) const {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0 : sorted[static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5)];
    }
    double median() const { return at(0.5); }
};

void printLine(const char* label, const Rounds& rounds, size_t files, const Rounds* floor = nullptr) {
    const double median = rounds.median();
    std::printf("  %-22s %8.4f s  %8.2f us/file  (%.4f-%.4f s)", label, median,
                median * 1e6 / static_cast<double>(files), rounds.at(0), rounds.at(1));
    if (floor && floor->median() > 0)
        std::printf("  %5.2fx its floor", median / floor->median());
    std::printf("\n");
}

bool canDropCaches() {
    return ::geteuid() == 0 && ::access("/proc/sys/vm/drop_caches", W_OK) == 0;
}

// Writes dirty pages out, then drops the page, dentry and inode caches, so
// the next run finds nothing of the tree in memory.
void dropCaches() {
    ::sync();
    std::FILE* control = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!control || std::fputs("3\n", control) < 0 || std::fclose(control) != 0) {
        std::perror("drop_caches");
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    size_t pairs = 10000;
    int rounds = 5;
    bool keep = false;
    bool dryOnly = false;
    bool cold = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pairs") == 0 && i + 1 < argc)
            pairs = std::strtoul(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (std::strcmp(argv[i], "--dry-only") == 0)
            dryOnly = true;
        else if (std::strcmp(argv[i], "--cold") == 0)
            cold = true;
    }
    QCoreApplication app(argc, argv);

    std::string pattern = (fs::temp_directory_path() / "meridane-pipeline-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    Mix mix;
    const Clock::time_point generated = Clock::now();
    const std::vector<Pair> tree = generateTree(root, pairs, mix);
    std::printf("%zu photo+sidecar pairs in %s (generated in %.1f s): %zu need an update, %zu correct, "
                "%zu another place, %zu without GPS; %d rounds per figure\n",
                tree.size(), root.c_str(), secondsSince(generated), mix.needsUpdate, mix.correct, mix.different,
                mix.noGPS, rounds);
    if (!tree.empty())
        std::printf("the floor reads %llu bytes in %llu reads of each image (the reader's own reads)\n",
                    static_cast<unsigned long long>(tree.front().imageReads.bytesRead),
                    static_cast<unsigned long long>(tree.front().imageReads.readCalls));

    // Warm page cache: one run of each first, so that every round finds the
    // tree in memory.
    size_t checksum = 0;
    int status = 0;
    Rounds dryFloor, dryFloorTwo, dryRun, overhead;
    (void)dryRunFloor(tree, checksum);
    (void)cliRun(root, false, status);
    for (int round = 0; round < rounds; ++round) {
        dryFloor.add(dryRunFloor(tree, checksum));
        dryRun.add(cliRun(root, false, status));
        dryFloorTwo.add(dryRunFloorTwoThreads(tree, checksum));
    }
    for (int round = 0; round < rounds; ++round)
        overhead.add(batchOverhead(root));

    Rounds coldFloor, coldRun;
    const bool coldPossible = cold && canDropCaches();
    if (coldPossible) {
        for (int round = 0; round < rounds; ++round) {
            dropCaches();
            coldFloor.add(dryRunFloor(tree, checksum));
            dropCaches();
            coldRun.add(cliRun(root, false, status));
        }
    }

    Rounds writeFloor, journaled, unjournaled;
    WriteRun lastJournaled;
    const fs::path runsFolder = root / ".runs";
    if (!dryOnly) {
        for (int round = 0; round < rounds; ++round) {
            writeFloor.add(writeRunFloor(tree, checksum));
            unjournaled.add(writeRun(root, tree, {}).seconds);
            lastJournaled = writeRun(root, tree, runsFolder);
            journaled.add(lastJournaled.seconds);
        }
    }

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("\nmedian of the rounds (fastest-slowest)\n");
    printLine("dry-run floor", dryFloor, tree.size());
    printLine("dry run", dryRun, tree.size(), &dryFloor);
    printLine("floor on two threads", dryFloorTwo, tree.size());
    printLine("batch alone", overhead, tree.size());
    if (coldPossible) {
        printLine("cold dry-run floor", coldFloor, tree.size());
        printLine("cold dry run", coldRun, tree.size(), &coldFloor);
    } else if (cold) {
        std::printf("  cold cache: skipped (dropping the page cache needs root)\n");
    }
    if (!dryOnly) {
        printLine("write floor", writeFloor, tree.size());
        printLine("write run", journaled, tree.size(), &writeFloor);
        printLine("no journal", unjournaled, tree.size(), &writeFloor);
        const RunJournalInfo& info = lastJournaled.journal;
        std::printf("  journal        %5.2fx the write run without it; %zu flushes, %.2f per pair of files, %.2f per "
                    "two of the %zu sidecars replaced; %.1f KB for %.1f KB of replaced sidecars (%.0f %%)\n",
                    journaled.median() / unjournaled.median(), info.flushes,
                    2.0 * static_cast<double>(info.flushes) / static_cast<double>(tree.size()),
                    info.replaced ? 2.0 * static_cast<double>(info.flushes) / static_cast<double>(info.replaced) : 0.0,
                    info.replaced,
                    static_cast<double>(lastJournaled.journalBytes) / 1024,
                    static_cast<double>(lastJournaled.replacedBytes) / 1024,
                    lastJournaled.replacedBytes ? 100.0 * static_cast<double>(lastJournaled.journalBytes) /
                                                      static_cast<double>(lastJournaled.replacedBytes)
                                                : 0.0);
    }
    std::printf("  peak memory    %8.1f MB (whole benchmark process)\n", static_cast<double>(usage.ru_maxrss) / 1024);
    std::printf("  targets: dry run within 4x its floor from a warm cache, 1.5x from a cold one; write run within\n"
                "           1.5x its floor; peak memory under 64 MB; the journal within 1.25x, at most one flush\n"
                "           per pair, at most 105 %% of the sidecars\n");
    if (checksum == 0)
        std::printf("(nothing was read)\n");

    if (keep) {
        std::printf("kept %s\n", root.c_str());
    } else {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    return 0;
}
