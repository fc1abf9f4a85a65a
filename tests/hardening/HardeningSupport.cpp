#include "HardeningSupport.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "ImageBuilder.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <spawn.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace meridane::hardening {
namespace fs = std::filesystem;

namespace {

bool gPrivateMounts = false;

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

// ---- Fixtures ---------------------------------------------------------------

void writeGpsImage(const fs::path& path, double latitude, double longitude) {
    const auto camera = testing::cameraTiff("Apple", "iPhone 12 Pro", "14.3", std::pair{latitude, longitude});
    writeBytes(path, testing::buildTiff(camera));
}

std::string phoneSidecar(const std::string& latitude, const std::string& longitude, const std::string& latitudeRef,
                         const std::string& longitudeRef) {
    std::string text =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 6.0.0\">\n"
        "   <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "      <rdf:Description rdf:about=\"\"\n"
        "            xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
        "            xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\">\n"
        "         <!-- exported by the phone -->\n"
        "         <photoshop:DateCreated>2024-05-01T10:00:00</photoshop:DateCreated>\n";
    text += "         <exif:GPSLatitude>" + latitude + "</exif:GPSLatitude>\n";
    text += "         <exif:GPSLongitude>" + longitude + "</exif:GPSLongitude>\n";
    if (!latitudeRef.empty())
        text += "         <exif:GPSLatitudeRef>" + latitudeRef + "</exif:GPSLatitudeRef>\n";
    if (!longitudeRef.empty())
        text += "         <exif:GPSLongitudeRef>" + longitudeRef + "</exif:GPSLongitudeRef>\n";
    text +=
        "         <exif:GPSAltitude>3500/100</exif:GPSAltitude>\n"
        "      </rdf:Description>\n"
        "   </rdf:RDF>\n"
        "</x:xmpmeta>\n"
        "<?xpacket end=\"w\"?>";
    return text;
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

WorkDir::WorkDir() {
    std::string pattern = (fs::temp_directory_path() / "meridane-hardening-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error(errnoText("mkdtemp"));
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
}

WorkDir::~WorkDir() {
    std::error_code ec;
    // Undo what tests may leave: read-only folders and files, mounts below.
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

// ---- Tree pictures ----------------------------------------------------------

Tree snapshot(const fs::path& root) {
    Tree tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0)
            continue;
        TreeEntry entry;
        entry.mode = st.st_mode & 07777;
        entry.inode = st.st_ino;
        if (S_ISREG(st.st_mode)) {
            entry.type = 'f';
            entry.content = readBytes(it->path());
        } else if (S_ISDIR(st.st_mode)) {
            entry.type = 'd';
        } else if (S_ISLNK(st.st_mode)) {
            entry.type = 'l';
            entry.content = fs::read_symlink(it->path(), ec).string();
        }
        tree[it->path().lexically_relative(root).string()] = std::move(entry);
    }
    return tree;
}

std::vector<std::string> differences(const Tree& before, const Tree& after) {
    std::vector<std::string> lines;
    for (const auto& [name, entry] : before) {
        auto found = after.find(name);
        if (found == after.end())
            lines.push_back("removed: " + name);
        else if (!(found->second == entry))
            lines.push_back("changed: " + name);
    }
    for (const auto& [name, entry] : after)
        if (!before.count(name))
            lines.push_back("added: " + name);
    return lines;
}

// ---- Child processes --------------------------------------------------------

namespace {

struct PreparedExec {
    std::vector<std::string> argStorage;
    std::vector<std::string> envStorage;
    std::vector<char*> argv;
    std::vector<char*> envp;

    PreparedExec(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnv)
        : argStorage(arguments) {
        for (char** e = environ; e && *e; ++e)
            envStorage.emplace_back(*e);
        for (const std::string& entry : extraEnv)
            envStorage.push_back(entry);
        for (std::string& a : argStorage)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : envStorage)
            envp.push_back(e.data());
        envp.push_back(nullptr);
    }
};

}  // namespace

RunResult runProcess(const std::vector<std::string>& arguments, const RunOptions& options) {
    RunResult result;
    PreparedExec exec(arguments, options.environment);
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    const auto started = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (!options.uid && !options.gid && !options.fileSizeLimit) {
        // posix_spawn shares no pages with this process, so the child's peak
        // memory is its own, not this test's.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const int failed = ::posix_spawn(&pid, exec.argv[0], &actions, nullptr, exec.argv.data(), exec.envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0)
            pid = -1;
    } else {
        pid = ::fork();
    }
    if (pid < 0) {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            ::close(fd);
        return result;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0)
            ::dup2(devNull, STDIN_FILENO);
        if (options.fileSizeLimit) {
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit {};
            limit.rlim_cur = limit.rlim_max = *options.fileSizeLimit;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.gid) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(*options.gid, *options.gid, *options.gid) != 0)
                ::_exit(126);
        }
        if (options.uid && ::setresuid(*options.uid, *options.uid, *options.uid) != 0)
            ::_exit(126);
        ::execve(exec.argv[0], exec.argv.data(), exec.envp.data());
        ::_exit(127);
    }
    result.started = true;
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        const auto now = std::chrono::steady_clock::now();
        const auto left = options.timeout - std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0)
            ::close(p.fd);

    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    result.maxResidentKiB = usage.ru_maxrss;
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

pid_t spawnQuiet(const std::vector<std::string>& arguments) {
    PreparedExec exec(arguments, {});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    pid_t pid = -1;
    if (::posix_spawn(&pid, exec.argv[0], &actions, nullptr, exec.argv.data(), exec.envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

fs::path cliPath() {
    if (const char* env = std::getenv("MERIDANE_CLI"))
        return env;
    return MERIDANE_CLI_PATH;
}

std::vector<CliRow> parseJsonRows(const std::string& output) {
    std::vector<CliRow> rows;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        if (!doc.isObject())
            continue;
        const QJsonObject object = doc.object();
        CliRow row;
        row.path = object.value("path").toString().toStdString();
        row.resultCase = object.value("case").toString().toStdString();
        const QJsonObject payload = object.value("payload").toObject();
        if (payload.contains("error"))
            row.message = payload.value("error").toString().toStdString();
        else if (payload.contains("reason"))
            row.message = payload.value("reason").toString().toStdString();
        for (const QJsonValue& change : payload.value("changes").toArray())
            row.changes.push_back(change.toString().toStdString());
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<CliRow> rowFor(const std::vector<CliRow>& rows, const std::string& fileName) {
    for (const CliRow& row : rows)
        if (fs::path(row.path).filename() == fileName)
            return row;
    return std::nullopt;
}

// ---- Privileges and mounts --------------------------------------------------

bool havePrivateMounts() { return gPrivateMounts; }

void enterPrivateMountNamespace() {
    if (::geteuid() != 0)
        return;
    if (::unshare(CLONE_NEWNS) != 0)
        return;
    // Mounts made from here on stay inside this process and its children.
    gPrivateMounts = ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool runningAsRoot() { return ::geteuid() == 0; }

uid_t unprivilegedUid() {
    if (const passwd* pw = ::getpwnam("nobody"))
        return pw->pw_uid;
    return 65534;
}

gid_t unprivilegedGid() {
    if (const group* gr = ::getgrnam("nogroup"))
        return gr->gr_gid;
    return 65534;
}

void giveToUnprivilegedUser(const fs::path& root) {
    const uid_t uid = unprivilegedUid();
    const gid_t gid = unprivilegedGid();
    ::lchown(root.c_str(), uid, gid);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        ::lchown(it->path().c_str(), uid, gid);
}

ScopedTmpfs::ScopedTmpfs(const fs::path& where, const std::string& options) : where_(where), options_(options) {
    std::error_code ec;
    fs::create_directories(where, ec);
    if (!gPrivateMounts) {
        error_ = "no private mount namespace (needs root)";
        return;
    }
    if (::mount("meridane-test", where.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        error_ = errnoText("mount tmpfs");
        return;
    }
    ::chmod(where.c_str(), 0755);
    mounted_ = true;
}

ScopedTmpfs::~ScopedTmpfs() {
    if (mounted_)
        ::umount2(where_.c_str(), MNT_DETACH);
}

bool ScopedTmpfs::remount(bool readOnly) {
    if (!mounted_)
        return false;
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount("meridane-test", where_.c_str(), "tmpfs", flags, options_.c_str()) == 0;
}

ScopedReadOnlyBind::ScopedReadOnlyBind(const fs::path& folder) : folder_(folder) {
    if (!gPrivateMounts) {
        error_ = "no private mount namespace (needs root)";
        return;
    }
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        error_ = errnoText("bind mount");
        return;
    }
    mounted_ = true;
    if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        error_ = errnoText("read-only remount");
}

ScopedReadOnlyBind::~ScopedReadOnlyBind() {
    if (mounted_)
        ::umount2(folder_.c_str(), MNT_DETACH);
}

}  // namespace meridane::hardening
