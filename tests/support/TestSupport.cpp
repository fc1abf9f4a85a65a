// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace meridane::testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "meridane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders and mounts behind; undo them first.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            ::umount2(it->path().c_str(), MNT_DETACH);
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const fs::path& path, std::string_view contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

fs::path writePhoto(const fs::path& stem, const std::optional<std::string>& sidecar, const TiffImage& image) {
    fs::create_directories(stem.parent_path());
    writeFile(stem.string() + ".HEIC", buildTiff(image));
    if (sidecar)
        writeFile(stem.string() + ".xmp", *sidecar);
    return stem.string() + ".HEIC";
}

void makeNestedFolders(const fs::path& root, const std::vector<std::string>& names,
                       const std::vector<std::pair<std::string, std::string>>& files) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& name : names) {
        if (::mkdirat(fd, name.c_str(), 0755) != 0 && errno != EEXIST)
            ADD_FAILURE() << "cannot make folder " << name << ": " << std::strerror(errno);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    for (const auto& [name, bytes] : files) {
        const int file = ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_EQ(::write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())) << name;
        ::close(file);
    }
    ::close(fd);
}

std::optional<fs::path> corpusDir() {
    const char* env = std::getenv("MERIDANE_CORPUS");
    const fs::path dir = env ? env : MERIDANE_CORPUS_DIR;
    std::error_code ec;
    return fs::is_directory(dir, ec) ? std::optional(dir) : std::nullopt;
}

fs::path testDataDir() { return MERIDANE_TEST_DATA_DIR; }

namespace {

struct Exec {
    std::vector<std::string> args, env;
    std::vector<char*> argv, envp;
    Exec(const std::vector<std::string>& arguments, const std::vector<std::string>& extra) : args(arguments) {
        // An extra entry replaces the inherited one of its name.
        auto overridden = [&](std::string_view entry) {
            return std::any_of(extra.begin(), extra.end(), [&](const std::string& e) {
                return entry.substr(0, entry.find('=') + 1) == std::string_view(e).substr(0, e.find('=') + 1);
            });
        };
        for (char** e = environ; e && *e; ++e)
            if (!overridden(*e))
                env.emplace_back(*e);
        env.insert(env.end(), extra.begin(), extra.end());
        for (auto [from, to] : {std::pair{&args, &argv}, std::pair{&env, &envp}}) {
            for (std::string& text : *from)
                to->push_back(text.data());
            to->push_back(nullptr);
        }
    }
};

pid_t start(Exec& exec, int out, int err, const RunOptions& options) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Only async-signal-safe calls from here to exec.
    if (const int devNull = ::open("/dev/null", O_RDONLY); devNull >= 0)
        ::dup2(devNull, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    if (options.fileSizeLimit) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {*options.fileSizeLimit, *options.fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.gid && (::setgroups(0, nullptr) != 0 || ::setresgid(*options.gid, *options.gid, *options.gid) != 0))
        ::_exit(126);
    if (options.uid && ::setresuid(*options.uid, *options.uid, *options.uid) != 0)
        ::_exit(126);
    ::execve(exec.argv[0], exec.argv.data(), exec.envp.data());
    ::_exit(127);
}

}  // namespace

RunResult runProcess(const std::vector<std::string>& arguments, const RunOptions& options) {
    RunResult result;
    Exec exec(arguments, options.environment);
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = start(exec, outPipe[1], errPipe[1], options);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    result.started = pid > 0;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    const auto deadline = started + options.timeout;
    bool interrupted = false;
    while (result.started && (fds[0].fd >= 0 || fds[1].fd >= 0)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
        }
        if (::poll(fds, 2, static_cast<int>(std::max<long>(left.count(), 100))) <= 0)
            continue;
        for (pollfd& p : fds) {
            char buffer[65536];
            const ssize_t n = p.revents ? ::read(p.fd, buffer, sizeof buffer) : -1;
            if (n > 0) {
                (&p == fds ? result.out : result.err).append(buffer, static_cast<size_t>(n));
                if (!interrupted && !options.interruptWhenErrShows.empty() &&
                    result.err.find(options.interruptWhenErrShows) != std::string::npos)
                    interrupted = ::kill(pid, SIGINT) == 0;
            } else if (p.revents && (n == 0 || errno != EINTR)) {
                ::close(p.fd);
                p.fd = -1;
            }
        }
    }
    if (!result.started)
        return result;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

pid_t spawnQuiet(const std::vector<std::string>& arguments) {
    Exec exec(arguments, {});
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = start(exec, devNull, devNull, {});
    ::close(devNull);
    return pid;
}

}  // namespace meridane::testing
