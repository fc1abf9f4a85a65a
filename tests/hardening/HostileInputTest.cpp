// Hostile sidecars and images handed to the real program: entity bombs,
// external entities and DTDs that point at local files or at the network, deep
// nesting, enormous text, broken and booby-trapped images. Each must end in
// bounded time and memory with one clear result row, touch no file beyond the
// pair and open no connection.
#include "HardeningSupport.h"

#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// What one hostile file may cost. Real sidecars take a millisecond and a few
// MB; these bounds only catch blow-ups, which are orders of magnitude larger.
constexpr auto kTimeBound = kSanitized ? 30s : 10s;
constexpr long kMemoryBoundKiB = kSanitized ? 1'500'000 : 400'000;

constexpr double kLatitude = 40.5;
constexpr double kLongitude = -3.75;
const char* const kSecret = "TOP-SECRET-7f3a9c";

/// The frame of a sidecar whose description holds `body`, with `prolog`
/// (a DOCTYPE) before the root.
std::string sidecarWith(const std::string& prolog, const std::string& body) {
    return prolog +
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
           "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">" +
           body + "</rdf:Description></rdf:RDF></x:xmpmeta>\n";
}

const std::string kGps =
    "<exif:GPSLatitude>40.5</exif:GPSLatitude><exif:GPSLongitude>3.75</exif:GPSLongitude>"
    "<exif:GPSLatitudeRef>N</exif:GPSLatitudeRef><exif:GPSLongitudeRef>W</exif:GPSLongitudeRef>";

/// A loopback listener that records whether anything tried to connect.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd_, 8) == 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~Listener() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int port() const { return port_; }
    bool someoneConnected() const {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

/// Watches one file for being opened or read.
class OpenWatch {
public:
    explicit OpenWatch(const fs::path& path) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0)
            watch_ = ::inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS);
    }
    ~OpenWatch() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool working() const { return fd_ >= 0 && watch_ >= 0; }
    int events() const {
        alignas(inotify_event) char buffer[4096];
        int count = 0;
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                return count;
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                ++count;
                p += sizeof(inotify_event) + event->len;
            }
        }
    }

private:
    int fd_ = -1;
    int watch_ = -1;
};

struct Environment {
    fs::path secret;  ///< a local file no sidecar may pull in
    int port = 0;     ///< a loopback port no sidecar may reach
};

struct HostileCase {
    const char* name;
    std::function<std::string(const Environment&)> sidecar;
    /// The expected failure text's start; empty when the file may be processed normally.
    const char* failurePrefix;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

std::string repeated(const std::string& piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

std::string billionLaughs(const char* use) {
    std::string dtd = "<!DOCTYPE x:xmpmeta [<!ENTITY lol0 \"lollollollollollollollollollol\">";
    for (int i = 1; i <= 10; ++i) {
        dtd += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            dtd += "&lol" + std::to_string(i - 1) + ";";
        dtd += "\">";
    }
    dtd += "]>\n";
    return sidecarWith(dtd, std::string(use) + kGps);
}

class HostileSidecar : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileSidecar, EndsQuicklyWithinBoundedMemoryTouchingNothingElse) {
    WorkDir work;
    const fs::path photos = work / "photos";
    fs::create_directories(photos);
    Environment environment;
    environment.secret = work / "secret.txt";
    writeBytes(environment.secret, kSecret);
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    environment.port = listener.port();
    writeGpsImage(photos / "IMG_0001.DNG", kLatitude, kLongitude);
    const std::string hostile = GetParam().sidecar(environment);
    writeBytes(photos / "IMG_0001.xmp", hostile);
    OpenWatch watch(environment.secret);
    ASSERT_TRUE(watch.working());

    RunOptions options;
    options.timeout = kTimeBound;
    const RunResult run = runProcess(
        {cliPath().string(), "--write", "--always-overwrite", "--json", photos.string()}, options);

    ASSERT_FALSE(run.timedOut) << "still running after " << kTimeBound.count() << " s";
    EXPECT_EQ(run.signal, 0);
    EXPECT_LT(run.maxResidentKiB, kMemoryBoundKiB);
    const auto rows = parseJsonRows(run.out);
    ASSERT_EQ(rows.size(), 1u) << run.out << run.err;
    const std::string prefix = GetParam().failurePrefix;
    if (!prefix.empty()) {
        EXPECT_EQ(rows[0].resultCase, "failed");
        EXPECT_THAT(rows[0].message, StartsWith(prefix));
        EXPECT_LT(rows[0].message.size(), 400u) << "a failure text should be one readable line";
        EXPECT_TRUE(readBytes(photos / "IMG_0001.xmp") == hostile) << "the sidecar changed";
    }
    EXPECT_EQ(watch.events(), 0) << "the secret file was opened";
    EXPECT_FALSE(listener.someoneConnected()) << "a connection was attempted";
    EXPECT_EQ(readBytes(photos / "IMG_0001.xmp").find(kSecret), std::string::npos);
    EXPECT_EQ((run.out + run.err).find(kSecret), std::string::npos);
    EXPECT_LT(run.elapsed, kTimeBound);
    for (const auto& [name, entry] : snapshot(work.path()))
        EXPECT_TRUE(name == "photos" || name == "secret.txt" || name == "photos/IMG_0001.DNG" ||
                    name == "photos/IMG_0001.xmp")
            << "unexpected: " << name;

    // The watch itself works: reading the secret is seen.
    (void)readBytes(environment.secret);
    EXPECT_GT(watch.events(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sidecars, HostileSidecar,
    ::testing::Values(
        HostileCase{"BillionLaughsInText",
                    [](const Environment&) { return billionLaughs("<dc:title>&lol10;</dc:title>"); },
                    "XML parse error"},
        HostileCase{"BillionLaughsInAnAttribute",
                    [](const Environment&) { return billionLaughs("<dc:title dc:x=\"&lol10;\">t</dc:title>"); },
                    "XML parse error"},
        HostileCase{"QuadraticBlowup",
                    [](const Environment&) {
                        const std::string dtd = "<!DOCTYPE x:xmpmeta [<!ENTITY big \"" + std::string(40'000, 'A') +
                                                "\">]>\n";
                        return sidecarWith(dtd, "<dc:title>" + repeated("&big;", 40'000) + "</dc:title>" + kGps);
                    },
                    "XML parse error"},
        HostileCase{"ExternalEntityToALocalFile",
                    [](const Environment& e) {
                        const std::string dtd = "<!DOCTYPE x:xmpmeta [<!ENTITY secret SYSTEM \"file://" +
                                                e.secret.string() + "\">]>\n";
                        return sidecarWith(dtd, "<dc:title>&secret;</dc:title>" + kGps);
                    },
                    ""},
        HostileCase{"ExternalEntityInTheGpsValue",
                    [](const Environment& e) {
                        const std::string dtd = "<!DOCTYPE x:xmpmeta [<!ENTITY secret SYSTEM \"" + e.secret.string() +
                                                "\">]>\n";
                        return sidecarWith(dtd,
                                           "<exif:GPSLatitude>&secret;</exif:GPSLatitude>"
                                           "<exif:GPSLongitude>3.75W</exif:GPSLongitude>");
                    },
                    ""},
        HostileCase{"ParameterEntityToALocalFile",
                    [](const Environment& e) {
                        const std::string dtd = "<!DOCTYPE x:xmpmeta [<!ENTITY % p SYSTEM \"file://" +
                                                e.secret.string() + "\"> %p;]>\n";
                        return sidecarWith(dtd, kGps);
                    },
                    ""},
        HostileCase{"ExternalDtdOnTheNetwork",
                    [](const Environment& e) {
                        const std::string dtd = "<!DOCTYPE x:xmpmeta SYSTEM \"http://127.0.0.1:" +
                                                std::to_string(e.port) + "/evil.dtd\">\n";
                        return sidecarWith(dtd, kGps);
                    },
                    ""},
        HostileCase{"ExternalEntityOnTheNetwork",
                    [](const Environment& e) {
                        const std::string dtd = "<!DOCTYPE x:xmpmeta [<!ENTITY remote SYSTEM \"http://127.0.0.1:" +
                                                std::to_string(e.port) + "/e.xml\">]>\n";
                        return sidecarWith(dtd, "<dc:title>&remote;</dc:title>" + kGps);
                    },
                    ""},
        HostileCase{"XIncludeOfALocalFile",
                    [](const Environment& e) {
                        return sidecarWith("", "<xi:include xmlns:xi=\"http://www.w3.org/2001/XInclude\" href=\"" +
                                                   e.secret.string() + "\" parse=\"text\"/>" + kGps);
                    },
                    ""},
        HostileCase{"DeepNesting",
                    [](const Environment&) {
                        return sidecarWith("", repeated("<dc:n>", 200'000) + repeated("</dc:n>", 200'000) + kGps);
                    },
                    "XML parse error"},
        HostileCase{"NestingJustUnderTheParsersLimit",
                    [](const Environment&) {
                        return sidecarWith("", repeated("<dc:n>", 240) + kGps + repeated("</dc:n>", 240));
                    },
                    ""},
        HostileCase{"TwentyMegabyteTextNode",
                    [](const Environment&) {
                        return sidecarWith("", "<dc:title>" + std::string(20'000'000, 'x') + "</dc:title>" + kGps);
                    },
                    ""},
        HostileCase{"FiveMegabyteTextNode",
                    [](const Environment&) {
                        return sidecarWith("", "<dc:title>" + std::string(5'000'000, 'x') + "</dc:title>" + kGps);
                    },
                    ""},
        HostileCase{"FiveMegabyteGpsValue",
                    [](const Environment&) {
                        return sidecarWith("", "<exif:GPSLatitude>" + std::string(5'000'000, '4') +
                                                   "</exif:GPSLatitude><exif:GPSLongitude>3.75W</exif:GPSLongitude>");
                    },
                    ""},
        HostileCase{"TwentyMegabyteAttribute",
                    [](const Environment&) {
                        return sidecarWith("", "<dc:title dc:a=\"" + std::string(20'000'000, 'y') + "\">t</dc:title>" +
                                                   kGps);
                    },
                    "XML parse error"},
        HostileCase{"HundredThousandSiblings",
                    [](const Environment&) { return sidecarWith("", repeated("<dc:s>v</dc:s>", 100'000) + kGps); },
                    ""},
        HostileCase{"TenThousandNamespaceDeclarations",
                    [](const Environment&) {
                        std::string declarations;
                        for (int i = 0; i < 10'000; ++i)
                            declarations += " xmlns:n" + std::to_string(i) + "=\"urn:n" + std::to_string(i) + "\"";
                        return sidecarWith("", "<dc:t" + declarations + ">t</dc:t>" + kGps);
                    },
                    ""},
        HostileCase{"NotUtf8", [](const Environment&) { return sidecarWith("", "<dc:t>\xff\xfe\x80</dc:t>" + kGps); },
                    "XML parse error"},
        HostileCase{"NulBytes",
                    [](const Environment&) { return sidecarWith("", std::string("<dc:t>a\0b</dc:t>", 15) + kGps); },
                    "XML parse error"},
        HostileCase{"Empty", [](const Environment&) { return std::string(); }, "XML parse error"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- hostile images --------------------------------------------------------------

std::string u32be(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string box(const std::string& type, const std::string& payload) {
    return u32be(static_cast<std::uint32_t>(8 + payload.size())) + type + payload;
}

struct ImageCase {
    const char* name;
    std::function<void(const fs::path&)> write;
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

class HostileImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(HostileImage, GivesOneRowQuicklyAndLeavesTheSidecar) {
    WorkDir work;
    const fs::path photos = work / "photos";
    fs::create_directories(photos);
    const fs::path image = photos / "IMG_0001.HEIC";
    GetParam().write(image);
    const std::string sidecar = sidecarWith("", kGps);
    writeBytes(photos / "IMG_0001.xmp", sidecar);
    const auto imageSize = fs::file_size(image);

    RunOptions options;
    options.timeout = kTimeBound;
    const RunResult run = runProcess({cliPath().string(), "--write", "--any-camera", "--json", photos.string()}, options);

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    EXPECT_LT(run.maxResidentKiB, kMemoryBoundKiB);
    const auto rows = parseJsonRows(run.out);
    ASSERT_EQ(rows.size(), 1u) << run.out << run.err;
    EXPECT_EQ(rows[0].resultCase, "failed");
    EXPECT_EQ(rows[0].message, "No GPS available");
    EXPECT_EQ(readBytes(photos / "IMG_0001.xmp"), sidecar);
    EXPECT_EQ(fs::file_size(image), imageSize);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(photos))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"IMG_0001.HEIC", "IMG_0001.xmp"}));
}

const std::string kFtyp = box("ftyp", "heic" + u32be(0) + "mif1heic");

INSTANTIATE_TEST_SUITE_P(
    Images, HostileImage,
    ::testing::Values(
        ImageCase{"Empty", [](const fs::path& p) { writeBytes(p, ""); }},
        ImageCase{"OnlyATypeBox", [](const fs::path& p) { writeBytes(p, kFtyp); }},
        ImageCase{"MetaBoxClaimingFourGigabytes",
                  [](const fs::path& p) { writeBytes(p, kFtyp + u32be(0xFFFFFFF0u) + "meta" + std::string(64, '\0')); }},
        ImageCase{"LargeSizeBoxClaimingExabytes",
                  [](const fs::path& p) {
                      writeBytes(p, kFtyp + u32be(1) + "meta" + "\x7f\xff\xff\xff\xff\xff\xff\xff" +
                                        std::string(64, '\0'));
                  }},
        ImageCase{"BoxOfSizeZeroRunningToTheEnd",
                  [](const fs::path& p) { writeBytes(p, kFtyp + u32be(0) + "meta" + std::string(32, '\0')); }},
        ImageCase{"BoxesNestedThousandsDeep",
                  [](const fs::path& p) {
                      std::string nested;
                      for (int i = 0; i < 5000; ++i)
                          nested = box("meta", u32be(0) + nested);
                      writeBytes(p, kFtyp + nested);
                  }},
        ImageCase{"SparseGigabyteOfZeros",
                  [](const fs::path& p) {
                      writeBytes(p, kFtyp);
                      fs::resize_file(p, std::uintmax_t{1} << 30);
                  }},
        ImageCase{"TiffWhoseDirectoryPointsAtItself",
                  [](const fs::path& p) {
                      std::string tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
                      tiff += std::string("\x01\x00", 2);                                  // one entry
                      tiff += std::string("\x0f\x01\x02\x00\x06\x00\x00\x00\x08\x00\x00\x00", 12);  // Make -> 8
                      tiff += std::string("\x08\x00\x00\x00", 4);                          // next IFD: itself
                      writeBytes(p, tiff);
                  }},
        ImageCase{"TiffWithAHugeEntryCount",
                  [](const fs::path& p) {
                      std::string tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, '\xff', '\xff'};
                      writeBytes(p, tiff + std::string(100, '\x01'));
                  }},
        ImageCase{"PngNamedHeic",
                  [](const fs::path& p) { writeBytes(p, "\x89PNG\r\n\x1a\n" + std::string(100, '\0')); }},
        ImageCase{"RandomBytes",
                  [](const fs::path& p) {
                      std::string bytes;
                      unsigned state = 12345;
                      for (int i = 0; i < 65536; ++i) {
                          state = state * 1103515245u + 12345u;
                          bytes.push_back(static_cast<char>(state >> 16));
                      }
                      writeBytes(p, bytes);
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HostileImage, EveryOddCorpusImageGivesOneRowAndLeavesItsSidecar) {
    const auto corpus = testing::corpusDir();
    if (!corpus)
        GTEST_SKIP() << "the shared corpus is not here";
    WorkDir work;
    const fs::path photos = work / "photos";
    fs::create_directories(photos);
    int images = 0;
    for (const auto& entry : fs::directory_iterator(*corpus / "odd")) {
        std::string ext = entry.path().extension().string();
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext != ".heic" && ext != ".heif" && ext != ".dng")
            continue;
        fs::copy_file(entry.path(), photos / entry.path().filename());
        writeBytes(photos / (entry.path().stem().string() + ".xmp"), sidecarWith("", kGps));
        ++images;
    }
    ASSERT_GT(images, 5);
    const Tree before = snapshot(photos);

    RunOptions options;
    options.timeout = kTimeBound * 3;
    const RunResult run = runProcess({cliPath().string(), "--write", "--any-camera", "--json", photos.string()}, options);

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    const auto rows = parseJsonRows(run.out);
    EXPECT_EQ(static_cast<int>(rows.size()), images) << run.out;
    // Only the one readable iPhone photo among them may write its sidecar.
    for (const std::string& change : differences(before, snapshot(photos)))
        EXPECT_EQ(change, "changed: exifr__heic-maybebroken.xmp");
}

}  // namespace
}  // namespace meridane::hardening
