#include "imagemeta/internal/ExifDecoding.h"

#include "base/UnicodeText.h"
#include "base/Utf8Text.h"

#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>  // not part of exiv2.hpp

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

namespace meridane::imagemeta {
namespace {

// A dump of the GPS dictionary lists at most this many elements of one value;
// only the first three of a coordinate count.
constexpr long kMaxListElements = 256;
constexpr std::size_t kMaxEntriesPerDictionary = 1024;

void discardLogMessage(int /*level*/, const char* /*message*/) {}

// The XMP toolkit inside Exiv2 (reached through the XMP packet of a DNG or a
// JPEG) is safe on several threads only with a lock around it.
std::mutex& xmpToolkitMutex() {
    static std::mutex mutex;
    return mutex;
}

void lockXmpToolkit(void* /*data*/, bool lock) {
    if (lock)
        xmpToolkitMutex().lock();
    else
        xmpToolkitMutex().unlock();
}

void configureExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Exiv2 writes warnings about damaged metadata to standard error; the
        // reader says what matters in its own diagnostic lines instead.
        Exiv2::LogMsg::setHandler(discardLogMessage);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(lockXmpToolkit, nullptr);
    });
}

/// An EXIF ASCII value: up to its first NUL; bytes that are not UTF-8 are
/// taken as Latin-1, as older cameras write them.
std::string exifText(const Exiv2::Value& value) {
    std::string text = value.toString();
    if (auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    if (utf8::isValid(text))
        return text;
    std::string converted;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            converted += c;
        } else {
            converted += static_cast<char>(0xC0 | (byte >> 6));
            converted += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return converted;
}

template <typename Element, typename Convert>
MetadataValue listOrScalar(const Exiv2::Value& value, Convert convert) {
    const auto* typed = dynamic_cast<const Exiv2::ValueType<Element>*>(&value);
    if (!typed)
        return MetadataValue::Opaque{Exiv2::TypeInfo::typeName(value.typeId()) ? Exiv2::TypeInfo::typeName(value.typeId()) : "unknown",
                                     static_cast<std::size_t>(value.size())};
    if (typed->value_.size() == 1)
        return convert(typed->value_.front());
    MetadataValue::List list;
    for (const Element& element : typed->value_) {
        if (static_cast<long>(list.size()) == kMaxListElements)
            break;
        list.push_back(convert(element));
    }
    return list;
}

MetadataValue convert(const Exiv2::Value& value) {
    switch (value.typeId()) {
    case Exiv2::asciiString:
        return exifText(value);
    case Exiv2::unsignedRational:
        return listOrScalar<Exiv2::URational>(value, [](const Exiv2::URational& r) {
            return MetadataValue(Rational{r.first, r.second});
        });
    case Exiv2::signedRational:
        return listOrScalar<Exiv2::Rational>(value, [](const Exiv2::Rational& r) {
            return MetadataValue(Rational{r.first, r.second});
        });
    case Exiv2::tiffFloat:
        return listOrScalar<float>(value, [](float f) { return MetadataValue(f); });
    case Exiv2::tiffDouble:
        return listOrScalar<double>(value, [](double d) { return MetadataValue(d); });
    case Exiv2::unsignedByte:
    case Exiv2::signedByte:
    case Exiv2::unsignedShort:
    case Exiv2::signedShort:
    case Exiv2::unsignedLong:
    case Exiv2::signedLong:
    case Exiv2::tiffIfd: {
        long count = value.count();
        if (count == 1)
            return MetadataValue(std::int64_t{value.toLong(0)});
        MetadataValue::List list;
        for (long i = 0; i < std::min(count, kMaxListElements); ++i)
            list.emplace_back(std::int64_t{value.toLong(i)});
        return list;
    }
    default: {
        const char* name = Exiv2::TypeInfo::typeName(value.typeId());
        return MetadataValue::Opaque{name ? name : "unknown", static_cast<std::size_t>(value.size())};
    }
    }
}

bool isDeviceTag(std::uint16_t tag) { return tag == tag::make || tag == tag::model || tag == tag::software; }

void add(std::optional<PropertyDictionary>& dictionary, const Exiv2::Exifdatum& datum) {
    if (!dictionary)
        dictionary.emplace();
    if (dictionary->entries.size() < kMaxEntriesPerDictionary)
        dictionary->entries.push_back({datum.tag(), datum.tagName(), convert(datum.value())});
}

ImageProperties propertiesFrom(const Exiv2::ExifData& data) {
    ImageProperties properties;
    for (const Exiv2::Exifdatum& datum : data) {
        // Exiv2 keeps an entry whose value lies outside the block with no
        // data at all; such a value was never read and counts as absent.
        if (datum.size() <= 0)
            continue;
        const std::string group = datum.groupName();
        if (group == "GPSInfo")
            add(properties.gps, datum);
        else if (group == "Image" && isDeviceTag(datum.tag()))
            add(properties.tiff, datum);
        else if (group == "Photo" && isDeviceTag(datum.tag()))
            add(properties.exif, datum);
    }
    return properties;
}

Error exiv2Error(const std::exception& e) {
    const auto* exiv2 = dynamic_cast<const Exiv2::AnyError*>(&e);
    return Error{ErrorDomain::exif, exiv2 ? exiv2->code() : -1, e.what()};
}

/// Exiv2's file access with a count of what it reads and maps.
class CountingFileIo : public Exiv2::FileIo {
public:
    CountingFileIo(const std::string& path, ReadStats* stats) : Exiv2::FileIo(path), stats_(stats) {}

    long read(Exiv2::byte* buffer, long count) override {
        long n = Exiv2::FileIo::read(buffer, count);
        if (stats_ && n > 0) {
            stats_->bytesRead += static_cast<std::uint64_t>(n);
            stats_->readCalls += 1;
        }
        return n;
    }
    Exiv2::DataBuf read(long count) override {
        if (count < 0 || static_cast<std::size_t>(count) > size())
            throw Exiv2::Error(Exiv2::kerInvalidMalloc);
        Exiv2::DataBuf buffer(count);
        buffer.size_ = read(buffer.pData_, buffer.size_);
        return buffer;
    }
    int getb() override {
        int c = Exiv2::FileIo::getb();
        if (stats_ && c != EOF) {
            stats_->bytesRead += 1;
            stats_->readCalls += 1;
        }
        return c;
    }
    Exiv2::byte* mmap(bool writeable) override {
        Exiv2::byte* mapped = Exiv2::FileIo::mmap(writeable);
        if (stats_ && mapped)
            stats_->bytesMapped += size();
        return mapped;
    }

private:
    ReadStats* stats_;
};

/// Formats a platform image reader also opens: still images, not the video
/// containers, sidecars and metadata dumps Exiv2 knows as well.
bool isStillImageType(int type) {
    static constexpr int types[] = {Exiv2::ImageType::jpeg, Exiv2::ImageType::crw, Exiv2::ImageType::tiff,
                                    Exiv2::ImageType::mrw,  Exiv2::ImageType::png, Exiv2::ImageType::cr2,
                                    Exiv2::ImageType::raf,  Exiv2::ImageType::orf, Exiv2::ImageType::gif,
                                    Exiv2::ImageType::psd,  Exiv2::ImageType::tga, Exiv2::ImageType::bmp,
                                    Exiv2::ImageType::jp2,  Exiv2::ImageType::rw2, Exiv2::ImageType::pgf,
                                    Exiv2::ImageType::webp};
    return std::find(std::begin(types), std::end(types), type) != std::end(types);
}

}  // namespace

Result<ImageProperties> decodeTiffBlock(std::span<const std::uint8_t> block) {
    configureExiv2();
    try {
        Exiv2::ExifData data;
        Exiv2::ByteOrder order =
            Exiv2::ExifParser::decode(data, block.data(), static_cast<std::uint32_t>(block.size()));
        if (order == Exiv2::invalidByteOrder)
            return Error{ErrorDomain::exif, 0, "no TIFF header"};
        return propertiesFrom(data);
    } catch (const std::exception& e) {
        return exiv2Error(e);
    }
}

PropertiesRead readWithExiv2(const std::filesystem::path& path, ReadStats* stats) {
    configureExiv2();
    PropertiesRead result;
    try {
        // Exiv2 0.27 takes ownership through its own smart pointer type.
        Exiv2::BasicIo::AutoPtr io(new CountingFileIo(path.string(), stats));
        auto image = Exiv2::ImageFactory::open(io);
        if (!image.get() || !isStillImageType(image->imageType())) {
            result.problem = "not an image format that can be read";
            return result;
        }
        result.stage = PropertiesStage::noProperties;
        image->readMetadata();
        result.properties = propertiesFrom(image->exifData());
        result.stage = PropertiesStage::read;
    } catch (const std::exception& e) {
        result.problem = "Exiv2: " + exiv2Error(e).message;
    }
    return result;
}

}  // namespace meridane::imagemeta
