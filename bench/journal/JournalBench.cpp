// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a journal of many small entries (the first journal format, which
// every version reads) into a scratch state folder, then runs
// `meridane-cli --list-runs` and `--undo` over it and prints each one's peak
// memory and time. The sidecars it names do not exist: the undo reads every
// entry and restores none. Usage: meridane_journal_bench [ENTRIES] [CLI]
#include <zlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {
namespace fs = std::filesystem;

void little(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string framed(char type, const std::string& payload) {
    std::string record(1, type);
    little(record, payload.size(), 4);
    record += payload;
    little(record, ::crc32(0, reinterpret_cast<const Bytef*>(record.data()), static_cast<uInt>(record.size())), 4);
    return record;
}

void writeJournal(const fs::path& file, std::size_t entries) {
    std::ofstream out(file, std::ios::binary);
    std::string header;
    little(header, 1, 1);  // a write run
    little(header, 1'700'000'000'000'000ull, 8);
    little(header, 4242, 4);
    little(header, 0, 2);
    out << "MRDNRUN1" << framed('H', header);
    std::string packed(64, '\0');
    uLongf size = packed.size();
    ::compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>("old"), 3, 1);
    packed.resize(size);
    for (std::size_t n = 1; n <= entries; ++n) {
        const std::string path = "/nonexistent/meridane-bench/roll" + std::to_string(n / 1000) + "/IMG_" + std::to_string(n) + ".xmp";
        std::string entry;
        little(entry, n, 4);
        little(entry, 3, 4);
        entry += std::string(64, '\x5A');
        little(entry, path.size(), 2);
        entry += path;
        little(entry, 0, 2);
        entry += packed;
        std::string done;
        little(done, n, 4);
        out << framed('E', entry) << framed('D', done);
    }
    out << framed('F', {});
}

struct Figures {
    double seconds = 0, cpu = 0;
    long peakKiB = 0;
    int status = 0;
};

Figures runCli(const std::string& cli, const std::string& argument, const fs::path& state) {
    const auto started = std::chrono::steady_clock::now();
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        if (std::freopen("/dev/null", "w", stdout) == nullptr || std::freopen("/dev/null", "w", stderr) == nullptr)
            std::_Exit(126);
        ::execl(cli.c_str(), cli.c_str(), argument.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    Figures figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    figures.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.peakKiB = usage.ru_maxrss;
    figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t entries = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const std::string cli = argc > 2 ? argv[2] : MERIDANE_CLI_PATH;
    char scratch[] = "/tmp/meridane-journal-bench-XXXXXX";
    if (!::mkdtemp(scratch))
        return 1;
    const fs::path state(scratch);
    std::error_code ec;
    fs::create_directories(state / "meridane/runs", ec);
    fs::permissions(state / "meridane/runs", fs::perms::owner_all);
    const fs::path journal = state / "meridane/runs/20231114T221320.000000Z-4242.journal";
    writeJournal(journal, entries);
    std::printf("journal of %zu entries: %.1f MB\n", entries, static_cast<double>(fs::file_size(journal)) / 1e6);
    for (const char* argument : {"--list-runs", "--undo"}) {
        const Figures f = runCli(cli, argument, state);
        std::printf("%-12s peak %7.1f MB  %6.2f s wall  %6.2f s CPU  status %d\n", argument,
                    static_cast<double>(f.peakKiB) / 1024.0, f.seconds, f.cpu, f.status);
    }
    fs::remove_all(state, ec);
    return 0;
}
