// SPDX-License-Identifier: GPL-3.0-or-later
#include "HardeningSupport.h"
#include "SidecarBuilder.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace meridane::hardening {
namespace fs = std::filesystem;

namespace {
bool gPrivateMounts = false;
}  // namespace

void writePair(const fs::path& stem, const Photo& photo, std::string sidecar) {
    fs::create_directories(stem.parent_path());
    fs::copy_file(testing::testDataDir() / "imagemeta" / photo.file, stem.string() + photo.extension);
    if (sidecar.empty()) {
        const std::string lat = photo.latitude, lon = photo.longitude;
        sidecar = testing::sidecarXml(lat.substr(0, lat.size() - 1), lon.substr(0, lon.size() - 1),
                                      photo.latitudeRef, photo.longitudeRef);
    }
    testing::writeFile(stem.string() + ".xmp", sidecar);
}

Tree snapshot(const fs::path& root) {
    Tree tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0)
            continue;
        std::string entry = S_ISREG(st.st_mode) ? "f" : S_ISDIR(st.st_mode) ? "d" : S_ISLNK(st.st_mode) ? "l" : "?";
        entry += std::to_string(st.st_mode & 07777) + " ";
        if (S_ISREG(st.st_mode))
            entry += testing::readFile(it->path());
        else if (S_ISLNK(st.st_mode))
            entry += fs::read_symlink(it->path(), ec).string();
        tree[it->path().lexically_relative(root).string()] = std::move(entry);
    }
    return tree;
}

std::vector<std::string> differences(const Tree& before, const Tree& after) {
    std::vector<std::string> lines;
    for (const auto& [name, entry] : before)
        if (!after.count(name) || after.at(name) != entry)
            lines.push_back((after.count(name) ? "changed: " : "removed: ") + name);
    for (const auto& [name, entry] : after)
        if (!before.count(name))
            lines.push_back("added: " + name);
    return lines;
}

fs::path cliPath() { return std::getenv("MERIDANE_CLI") ? std::getenv("MERIDANE_CLI") : MERIDANE_CLI_PATH; }

std::vector<CliRow> runCli(const std::vector<std::string>& arguments, RunResult& run, const RunOptions& options) {
    std::vector<std::string> argv = {cliPath().string(), "--write", "--json"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    run = testing::runProcess(argv, options);
    std::vector<CliRow> rows;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const QJsonObject row = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        const QJsonObject payload = row.value("payload").toObject();
        if (!row.isEmpty())
            rows.push_back({row.value("path").toString().toStdString(),
                            row.value("case").toString().toStdString(),
                            payload.value(payload.contains("error") ? "error" : "reason").toString().toStdString()});
    }
    return rows;
}

void enterPrivateMountNamespace() {
    // Mounts made from here on stay inside this process and its children.
    gPrivateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                     ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

std::string mount(const fs::path& where, const std::string& tmpfsOptions, bool readOnlyBind) {
    if (!gPrivateMounts)
        return "no private mount namespace (needs root)";
    fs::create_directories(where);
    const bool done = readOnlyBind ? ::mount(where.c_str(), where.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                                         ::mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                                                 nullptr) == 0
                                   : ::mount("meridane-test", where.c_str(), "tmpfs", 0, tmpfsOptions.c_str()) == 0;
    ::chmod(where.c_str(), 0755);
    return done ? "" : std::string("mount: ") + std::strerror(errno);
}

std::string mountCoarseClockVolume(const fs::path& where) {
    if (!gPrivateMounts)
        return "no private mount namespace (needs root)";
    const fs::path image = fs::path(where).concat(".ext2");
    fs::create_directories(where);
    const std::string mkfs = QStandardPaths::findExecutable("mkfs.ext2", {"/usr/sbin", "/sbin"}).toStdString();
    const std::string mountTool = QStandardPaths::findExecutable("mount", {"/usr/bin", "/bin"}).toStdString();
    if (mkfs.empty() || mountTool.empty())
        return "mkfs.ext2 or mount is not installed";
    testing::writeFile(image, "");
    if (::truncate(image.c_str(), 200 << 20) != 0)  // sparse; a save wants 100 MB free
        return std::string("truncate: ") + std::strerror(errno);
    // 128-byte inodes have no room for fractions of a second.
    if (testing::runProcess({mkfs, "-q", "-F", "-I", "128", image.string()}).exitCode != 0)
        return "mkfs.ext2 failed";
    const RunResult mounted = testing::runProcess({mountTool, "-o", "loop", image.string(), where.string()});
    if (mounted.exitCode != 0)
        return "cannot mount a loop device here: " + mounted.err;
    return "";
}

bool setImmutable(const fs::path& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    int flags = 0;
    const bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                      (flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    ::close(fd);
    return done;
}

RunOptions asUnprivilegedUser() {
    RunOptions options;
    if (::geteuid() == 0) {
        options.uid = 65534;
        options.gid = 65534;
        // Its write runs keep their journals where that user may write.
        const std::filesystem::path state = std::filesystem::temp_directory_path() / "meridane-nobody-state";
        ::mkdir(state.c_str(), 0700);
        ::chmod(state.c_str(), 01777);
        options.environment.push_back("XDG_STATE_HOME=" + state.string());
    }
    return options;
}

}  // namespace meridane::hardening
