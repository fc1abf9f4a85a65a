#include "HardeningSupport.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <exiv2/exiv2.hpp>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>

namespace meridane::hardening {
namespace fs = std::filesystem;

namespace {

bool gPrivateMounts = false;

// A little-endian baseline TIFF of one grey pixel; Exiv2 adds the EXIF.
std::string onePixelTiff() {
    std::string out = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    auto put = [&out](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const std::uint32_t pixelOffset = 8 + 2 + 9 * 12 + 4;
    const std::uint32_t entries[9][3] = {{256, 3, 1}, {257, 3, 1}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                                         {273, 4, pixelOffset}, {277, 3, 1}, {278, 3, 1}, {279, 4, 1}};
    for (const auto& e : entries) {
        put(e[0], 2);
        put(e[1], 2);
        put(1, 4);
        put(e[2], 4);
    }
    put(0, 4);
    out.push_back(static_cast<char>(0x80));
    return out;
}

std::string rationalDegrees(double value) {
    const double magnitude = std::fabs(value);
    const auto degrees = static_cast<long>(magnitude);
    const double minutes = (magnitude - static_cast<double>(degrees)) * 60.0;
    const long microSeconds = std::lround((minutes - std::floor(minutes)) * 60.0 * 1e6);
    return std::to_string(degrees) + "/1 " + std::to_string(static_cast<long>(minutes)) + "/1 " +
           std::to_string(microSeconds) + "/1000000";
}

}  // namespace

void writeGpsImage(const fs::path& path, double latitude, double longitude) {
    testing::writeFile(path, onePixelTiff());
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    auto image = Exiv2::ImageFactory::open(path.string());
    image->readMetadata();
    Exiv2::ExifData exif = image->exifData();
    Exiv2::DataValue dngVersion(Exiv2::unsignedByte);
    dngVersion.read("1 4 0 0");
    exif["Exif.Image.DNGVersion"] = dngVersion;
    exif["Exif.Image.Make"] = "Apple";
    exif["Exif.Image.Model"] = "iPhone 12 Pro";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = latitude < 0 ? "S" : "N";
    exif["Exif.GPSInfo.GPSLongitudeRef"] = longitude < 0 ? "W" : "E";
    Exiv2::URationalValue lat, lon;
    lat.read(rationalDegrees(latitude));
    lon.read(rationalDegrees(longitude));
    exif["Exif.GPSInfo.GPSLatitude"] = lat;
    exif["Exif.GPSInfo.GPSLongitude"] = lon;
    image->setExifData(exif);
    image->writeMetadata();
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

fs::path cliPath() {
    const char* other = std::getenv("MERIDANE_CLI");  // another build's program, e.g. to compare
    return other ? other : MERIDANE_CLI_PATH;
}

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

std::optional<CliRow> rowFor(const std::vector<CliRow>& rows, const std::string& fileName) {
    for (const CliRow& row : rows)
        if (fs::path(row.file).filename() == fileName)
            return row;
    return std::nullopt;
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

RunOptions asUnprivilegedUser() {
    RunOptions options;
    if (::geteuid() == 0) {
        options.uid = 65534;
        options.gid = 65534;
    }
    return options;
}

}  // namespace meridane::hardening
