// SPDX-License-Identifier: GPL-3.0-or-later
// Write runs and their undo, in process, over sound and damaged journals.
#include "HardeningSupport.h"
#include "SidecarBuilder.h"
#include "base/Diagnostics.h"
#include "engine/BatchRun.h"
#include "engine/Report.h"
#include "engine/RunHistory.h"
#include "journal/RunJournal.h"
#include "journal/RunStore.h"

#include <QEventLoop>

#include <gmock/gmock.h>
#include <zlib.h>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;

class UndoTest : public ::testing::Test {
protected:
    UndoTest() {
        run.setOptions({.dryRun = false, .alwaysOverwrite = true});
        run.setRunsFolder(state / "runs");
    }
    /// Eight pairs: two sidecars behind links, three modes, some naming another
    /// place; with `corpus`, the corpus's sidecars of other tools too.
    void makeLibrary(bool corpus = false) {
        int n = 0;
        if (std::optional<fs::path> folder = testing::corpusDir(); corpus && folder)
            for (const auto& item : fs::directory_iterator(*folder / "xmp"))
                writePair(photos / "corpus" / std::to_string(n++), kPhotos[0], testing::readFile(item.path()));
        for (n = 0; n < 8; ++n) {
            const Photo& p = kPhotos[n % 3];
            const fs::path stem = photos / ("roll" + std::to_string(n / 4)) / ("IMG_" + std::to_string(1000 + n));
            writePair(stem, p, n % 2 ? testing::sidecarXml("1.5N", "2.5E", "N", "E") : std::string());
            fs::path sidecar = stem.string() + ".xmp";
            if (n % 4 == 3) {
                fs::create_directories(photos / "linked");
                fs::rename(sidecar, photos / "linked" / sidecar.filename());
                fs::create_symlink("../linked/" + sidecar.filename().string(), sidecar);
                sidecar = photos / "linked" / sidecar.filename();
            }
            ::chmod(sidecar.c_str(), n % 3 == 0 ? 0600 : n % 3 == 1 ? 0644 : 0640);
        }
    }
    /// Runs `start` to the end and returns "name: report text" per row, sorted.
    std::vector<std::string> rows(const std::function<void()>& start) {
        QEventLoop loop;
        auto quit = [&] { if (!run.isProcessing()) loop.quit(); };
        QObject::connect(&run, &BatchRun::runFinished, &loop, quit);
        QObject::connect(&run, &BatchRun::collectingFinished, &loop, quit);
        start();
        if (run.isProcessing())
            loop.exec();
        std::vector<std::string> lines;
        for (const ProcessingResultDetail& detail : run.results())
            lines.push_back(resultLine(detail));
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    std::vector<std::string> write() { return rows([&] { run.processPaths({photos}); }); }
    std::vector<std::string> undo(const std::string& id) { return rows([&] { run.undoRun(id); }); }
    std::string latest() { return history.latestUndoable().value_or(KeptRun{}).id; }

    diag::ScopedSink quiet{&diag::discard};
    testing::TempDir photosDir, state;
    const RunHistory history{state / "runs"};
    fs::path photos = photosDir / "photos";
    BatchRun run;
};

TEST_F(UndoTest, AWriteRunUndoneLeavesEverySidecarAsItWasAndItsUndoUndoneAsTheRunLeftThem) {
    makeLibrary(true);
    if (!testing::corpusDir())
        std::cout << "[ skipped  ] the corpus's sidecars: the shared corpus is absent\n";
    // IMG_1.DNG and IMG_1.HEIC share IMG_1.xmp and say different places: written twice, it ends in its first state.
    writePair(photos / "IMG_1", kPhotos[0]);
    fs::copy_file(testing::testDataDir() / "imagemeta" / kPhotos[1].file, photos / "IMG_1.HEIC");
    const Tree before = snapshot(photos);
    write();
    const Tree written = snapshot(photos);
    const size_t replaced = run.lastJournal().replaced;
    ASSERT_GE(replaced, 8u);
    // One per pair, one more where IMG_1's two photos part a pair, one at the end.
    EXPECT_LE(run.lastJournal().flushes, (run.results().size() + 1) / 2 + 2);
    // A full disk or a kill leaves a record cut short at the journal's end: the
    // note that the run was undone must still be read, or the next plain undo
    // would undo the run again instead of taking the undo back.
    const std::string writeRun = latest();
    const fs::path journal = run.lastJournal().file;
    testing::writeFile(journal, testing::readFile(journal) + std::string("E\0\0\x10\0partial", 12));
    const std::vector<std::string> restored = undo(writeRun);
    ASSERT_EQ(restored.size(), replaced);
    EXPECT_EQ(std::count(restored.begin(), restored.end(),
                         "IMG_1000.xmp: Restored:\n\u2022 exif:GPSLatitude: 48.85837000N \u2192 48.85837000\n"
                         "\u2022 exif:GPSLongitude: 2.29448100E \u2192 2.29448100"), 1);
    EXPECT_EQ(snapshot(photos), before);
    EXPECT_EQ(history.find(writeRun)->undoneBy, run.lastJournal().id);
    EXPECT_EQ(latest(), run.lastJournal().id) << "the undo is the run to undo next";
    for (const std::string& row : undo(latest()))
        EXPECT_TRUE(row.find(": Restored:\n") != std::string::npos) << row;
    EXPECT_EQ(snapshot(photos), written);
}

TEST_F(UndoTest, ASidecarEditedMissingOrRelinkedSinceTheRunIsLeftAloneAndReported) {
    makeLibrary();
    write();
    const fs::path roll = photos / "roll0";
    const std::string edited = testing::readFile(roll / "IMG_1000.xmp") + "<!-- edited -->\n";
    testing::writeFile(roll / "IMG_1000.xmp", edited);
    fs::remove(roll / "IMG_1001.xmp");
    // The link now leads to a copy holding exactly what the run wrote: still not the file it wrote.
    fs::copy_file(photos / "linked/IMG_1003.xmp", photos / "decoy.xmp");
    fs::remove(roll / "IMG_1003.xmp");
    fs::create_symlink("../decoy.xmp", roll / "IMG_1003.xmp");
    const std::string decoy = testing::readFile(photos / "decoy.xmp");
    const std::vector<std::string> rows = undo(latest());
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0], "IMG_1000.xmp: Not restored: changed since the run");
    EXPECT_EQ(rows[1], "IMG_1001.xmp: Not restored: sidecar missing");
    EXPECT_TRUE(rows[2].starts_with("IMG_1002.xmp: Restored:")) << rows[2];
    EXPECT_EQ(rows[3], "IMG_1003.xmp: Not restored: changed since the run");
    EXPECT_EQ(testing::readFile(roll / "IMG_1000.xmp"), edited);
    EXPECT_EQ(testing::readFile(photos / "decoy.xmp"), decoy);
    EXPECT_FALSE(history.find(run.undoneRunId())->undoneBy.empty());
}

// Byte offsets of the records of one type, after the journal's 8-byte magic.
std::vector<size_t> recordOffsets(const std::string& journal, char type) {
    std::vector<size_t> found;
    for (size_t at = 8, size = 0; at + 9 <= journal.size(); at += 9 + size) {
        std::memcpy(&size, journal.data() + at + 1, 4);
        if (journal[at] == type)
            found.push_back(at);
    }
    return found;
}

void resealRecord(std::string& journal, size_t at) {
    uint32_t size = 0;
    std::memcpy(&size, journal.data() + at + 1, 4);
    const uint32_t crc = static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(journal.data() + at), 5 + size));
    std::memcpy(journal.data() + at + 5 + size, &crc, 4);
}

TEST_F(UndoTest, ADamagedJournalFailsOnlyTheRowsOfDamagedEntriesAndWritesNothingElse) {
    struct Damage {
        const char* name;
        std::function<void(std::string& journal, size_t secondEntry)> apply;
        std::string row;  ///< of the second sidecar, by the first of the others
        size_t restored;  ///< rows of the others that are restored
    };
    const Damage damages[] = {
        {"one bit of its stored content", [](std::string& j, size_t e) { j[e + 200] ^= 0x10; },
         "Failed: The run's journal entry is damaged: its checksum does not match", 7},
        {"its content, checksum made good", [](std::string& j, size_t e) { j[e + 200] ^= 0x10; resealRecord(j, e); },
         "Failed: The run's journal entry is damaged: its stored content cannot be unpacked", 7},
        {"the hash of its content, checksum made good", [](std::string& j, size_t e) { j[e + 13] ^= 0x01; resealRecord(j, e); },
         "Failed: The run's journal entry is damaged: its stored content does not match its hash", 7},
        {"its path no longer a sidecar's", [](std::string& j, size_t e) {
             j.replace(j.find(".xmp", e), 4, ".txt");
             resealRecord(j, e);
         }, "Failed: The run's journal entry is damaged: it names no sidecar a run could have written", 7},
        {"a length beyond any record", [](std::string& j, size_t e) { j[e + 4] = '\x7F'; },
         "Failed: The run's journal is damaged: the entries after entry 1 cannot be read", 1},
        {"cut off inside the entry", [](std::string& j, size_t e) { j.resize(e + 100); }, "", 1},
        {"not a journal at all", [](std::string& j, size_t) { j = std::string(300, 'x'); },
         "Failed: The run's journal is damaged: no entry in it can be read", 0},
        {"a done note's checksum: no dropped note", [](std::string& j, size_t) { j[recordOffsets(j, 'D')[1]] = 'X'; }, "", 8},
    };
    makeLibrary();
    const Tree before = snapshot(photos);
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        write();
        const Tree written = snapshot(photos);
        const fs::path file = run.lastJournal().file;
        std::string journal = testing::readFile(file);
        const std::vector<size_t> entries = recordOffsets(journal, 'E');
        ASSERT_EQ(entries.size(), 8u);
        damage.apply(journal, entries[1]);
        testing::writeFile(file, journal);
        const std::vector<std::string> rows = undo(file.stem().string());
        size_t restored = 0, failed = 0;
        std::string all;
        for (const std::string& row : rows) {
            restored += row.find(": Restored:") != std::string::npos;
            failed += !damage.row.empty() && row.ends_with(": " + damage.row);
            all += row + '\n';
        }
        EXPECT_EQ(restored, damage.restored) << all;
        EXPECT_EQ(failed, damage.row.empty() ? 0u : 1u) << all;
        // Restored sidecars are as before the run, the others as the run left them; nothing else moved.
        const Tree now = snapshot(photos);
        for (const auto& [name, entry] : written)
            EXPECT_TRUE(now.at(name) == entry || now.at(name) == before.at(name)) << name;
        EXPECT_EQ(now.size(), written.size());
        for (const auto& [name, entry] : before)
            if (now.at(name) != entry)
                testing::writeFile(photos / name, entry.substr(entry.find(' ') + 1));
    }
}

TEST_F(UndoTest, AStoppedUndoIsFinishedByTheNextUndoInOneJournal) {
    makeLibrary();
    const Tree before = snapshot(photos);
    write();
    const Tree written = snapshot(photos);
    const std::string writeRun = run.lastJournal().id;
    const auto listed = [&](const std::string& id) { return runListLine(history.find(id).value()); };
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "stopped");
        QMetaObject::Connection stop = QObject::connect(&run, &BatchRun::resultRecorded, &run, [&] { run.stopAfterFilesInFlight(); });
        undo(writeRun);
        QObject::disconnect(stop);
        const std::string partial = run.lastJournal().id;
        ASSERT_GT(run.lastJournal().replaced, 0u);
        ASSERT_LT(run.lastJournal().replaced, 8u);
        if (killed) {  // its last two notes gone and a record cut short in their place
            std::string journal = testing::readFile(run.lastJournal().file);
            ASSERT_EQ(journal.substr(journal.size() - 22, 1) + journal.substr(journal.size() - 9, 1), "DF");
            std::uint32_t unnoted = 0;  // the entry whose note goes: its little-endian number
            for (int i = 3; i >= 0; --i)
                unnoted = unnoted << 8 | static_cast<unsigned char>(journal[journal.size() - 17 + i]);
            journal.resize(journal.size() - 22);
            testing::writeFile(run.lastJournal().file, journal + std::string("E\x40\x00\x00\x00" "abc", 8));
            // ... before that entry's sidecar was replaced: it holds what the run wrote.
            auto opened = journal::OpenedRun::open(run.lastJournal().file);
            ASSERT_TRUE(opened);
            std::optional<journal::RunEntry> cut;
            for (std::size_t i = 0; i < opened->entryCount(); ++i)
                if (opened->entry(i).number == unnoted)
                    cut = opened->entry(i);
            ASSERT_TRUE(cut && !cut->replaced);
            testing::writeFile(cut->replacedPath, opened->oldBytes(*cut).value());
        }
        EXPECT_EQ(latest(), writeRun) << "the unfinished undo is never the run to undo";
        EXPECT_THAT(listed(writeRun), HasSubstr("  write run  8 sidecars  partly undone"));
        EXPECT_THAT(listed(partial), HasSubstr("  unfinished undo of " + writeRun + "  "));
        EXPECT_EQ(history.latestUndoableWrite().value_or(KeptRun{}).id, writeRun);
        EXPECT_FALSE(history.latestRedoable());
        undo(latest());
        EXPECT_EQ(run.lastJournal().id, partial) << "continued in the same journal";
        EXPECT_EQ(snapshot(photos), before);
        const std::optional<KeptRun> undoRun = history.find(partial);
        ASSERT_TRUE(undoRun);
        EXPECT_EQ(undoRun->sidecars, 8u);
        EXPECT_FALSE(undoRun->damaged);
        // Done: the plain undo takes it back, and all eight are as the run left them.
        EXPECT_EQ(latest(), partial);
        EXPECT_EQ(history.latestRedoable().value_or(KeptRun{}).id, partial);
        EXPECT_THAT(listed(writeRun), HasSubstr("  write run  8 sidecars  undone by " + partial));
        undo(latest());
        EXPECT_EQ(snapshot(photos), written);
        EXPECT_EQ(history.latestUndoableWrite().value_or(KeptRun{}).id, writeRun);
        EXPECT_FALSE(history.latestRedoable()) << "a redo is not redone";
    }
}

TEST_F(UndoTest, TheWindowsUndoAndRedoFollowUndosRedosAndNewRuns) {
    makeLibrary();
    auto offered = [&] {
        return history.latestUndoableWrite().value_or(KeptRun{}).id + " | " + history.latestRedoable().value_or(KeptRun{}).id;
    };
    rows([&] { run.processPaths({photos / "roll0"}); });
    const std::string w0 = run.lastJournal().id;
    rows([&] { run.processPaths({photos / "roll1"}); });
    const std::string w1 = run.lastJournal().id;
    EXPECT_EQ(offered(), w1 + " | ");
    undo(w1);
    const std::string u1 = run.lastJournal().id;
    EXPECT_EQ(offered(), w0 + " | " + u1) << "undo offers the older write run, redo the undo";
    undo(w0);
    const std::string u0 = run.lastJournal().id;
    EXPECT_EQ(offered(), " | " + u0);
    undo(u0);  // redo
    EXPECT_EQ(offered(), w0 + " | " + u1) << "a redo is not redone; the undo before it is";
    undo(u1);  // redo
    EXPECT_EQ(offered(), w1 + " | ") << "both runs back: the newest is undone next";
    undo(w1);
    EXPECT_EQ(offered(), w0 + " | " + run.lastJournal().id);
    writePair(photos / "new" / "IMG_9", kPhotos[0], testing::sidecarXml("1.5N", "2.5E", "N", "E"));
    rows([&] { run.processPaths({photos / "new"}); });
    ASSERT_EQ(run.lastJournal().replaced, 1u);
    EXPECT_EQ(history.latestRedoable().value_or(KeptRun{}).id, "") << "a new write run ends what can be redone";
}

// An undo that put nothing back (its own journal cannot be made, or every
// sidecar changed since) or failed a row that may pass later (a locked
// sidecar) leaves its run the one to undo: the next plain undo retries it
// instead of taking the undo back (writing the run's changes again).
TEST_F(UndoTest, AnUndoThatPutNothingBackOrFailedARowLeavesItsRunToUndo) {
    makeLibrary();
    const Tree before = snapshot(photos);
    write();
    std::string id = latest();
    const fs::path locked = photos / "roll0" / "IMG_1000.xmp";
    const auto failures = [](const std::vector<std::string>& rows) {
        return std::count_if(rows.begin(), rows.end(),
                             [](const std::string& row) { return row.find(": Failed: ") != std::string::npos; });
    };
    if (setImmutable(state / "runs", true)) {
        const std::vector<std::string> rows = undo(id);
        setImmutable(state / "runs", false);
        EXPECT_EQ(rows.size(), 8u);
        EXPECT_EQ(failures(rows), 8);
        EXPECT_EQ(latest(), id);
        ASSERT_TRUE(setImmutable(locked, true));
        EXPECT_EQ(failures(undo(id)), 1);
        setImmutable(locked, false);
        EXPECT_EQ(latest(), id);
        undo(latest());
        EXPECT_EQ(snapshot(photos), before);
        write();
        id = latest();
    } else {
        std::cout << "[ skipped  ] a runs folder that takes no journal and a locked sidecar: no immutable flag here\n";
    }
    for (const auto& item : fs::recursive_directory_iterator(photos))
        if (item.path().extension() == ".xmp" && item.is_regular_file())
            testing::writeFile(item.path(), testing::readFile(item.path()) + "<!-- edited -->\n");
    for (const std::string& row : undo(id))
        EXPECT_TRUE(row.ends_with(": Not restored: changed since the run")) << row;
    EXPECT_EQ(latest(), id);
    EXPECT_TRUE(history.find(id)->undoneBy.empty());
}

TEST_F(UndoTest, ASidecarWhoseFolderPathNowLeadsElsewhereIsNotRestored) {
    makeLibrary();
    fs::rename(photos, photosDir / "real");
    fs::create_directory_symlink("real", photos);
    write();
    ASSERT_EQ(run.lastJournal().replaced, 8u);
    // Another library with the same files, reached by the same paths.
    fs::copy(photosDir / "real", photosDir / "other", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::remove(photos);
    fs::create_directory_symlink("other", photos);
    const Tree other = snapshot(photosDir / "other");
    const std::vector<std::string> rows = undo(run.lastJournal().id);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0], "IMG_1000.xmp: Failed: The sidecar's folder is not the folder the run wrote in");
    for (const std::string& row : rows)
        EXPECT_EQ(row.find("Restored"), std::string::npos) << row;
    EXPECT_EQ(snapshot(photosDir / "other"), other);
}

TEST(RunJournal, AJournalNamingAReplacedSidecarIsKeptWhateverBreaksAndFreeOnceItsRunEnds) {
    testing::TempDir runs;
    const fs::path sidecar = runs / "a.xmp";
    // Just created by a live process, before it has the lock: housekeeping
    // passes it by; one a killed process left is cleared.
    testing::writeFile(runs / ("20250101T000000.000000Z-" + std::to_string(::getpid()) + ".journal"), "");
    testing::writeFile(runs / "20250101T000000.000000Z-999999999.journal", "MRDN");
    EXPECT_EQ(journal::RunStore(runs.path()).forgetAll(), 1u);
    EXPECT_EQ(journal::RunStore(runs.path()).count(), 1u);

    journal::RunWriter writer(runs.path(), {journal::RunKind::write, std::chrono::system_clock::now(), ::getpid(), ""});
    const auto entry = writer.record({sidecar, sidecar, "old", "new"});
    ASSERT_TRUE(entry);
    ASSERT_TRUE(writer.makeDurable(entry.value()));
    {  // the volume is full before the replacement is noted
        struct rlimit saved {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto previous = ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit full {fs::file_size(writer.file()), saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &full);
        EXPECT_FALSE(writer.record({sidecar, sidecar, "other", "new"}));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, previous);
    }
    writer.settle(entry.value(), true);
    (void)writer.finish();
    EXPECT_EQ(writer.replacedCount(), 1u);
    // A worker thread may hold a run's writer, or the reader of the run it
    // undid, a moment after the run has ended; an undo asked for at once
    // must not find the journal locked.
    auto reader = journal::OpenedRun::open(writer.file());
    ASSERT_TRUE(reader) << reader.error().message;
    EXPECT_EQ(reader->entryCount(), 1u);
    reader->close();
    EXPECT_TRUE(journal::OpenedRun::open(writer.file()));
}

}  // namespace
}  // namespace meridane::hardening
