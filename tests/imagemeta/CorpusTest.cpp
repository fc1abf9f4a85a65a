// Real-world photos from public test suites (the shared corpus): position,
// to the precision exiftool prints, and camera identity for every image of
// the inventory.
#include "TestSupport.h"

#include "base/Diagnostics.h"
#include "imagemeta/ImageMetadata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>

namespace meridane::testing {
namespace {

using Text = std::optional<std::string>;

struct CorpusCase {
    const char* file;
    /// exiftool -n's values as printed; none when there is no position.
    std::optional<std::pair<const char*, const char*>> position;
    /// none when the image's properties cannot be read at all.
    std::optional<DeviceData> device;
};

void PrintTo(const CorpusCase& c, std::ostream* os) { *os << c.file; }

DeviceData camera(Text make, Text model, Text software) { return DeviceData{make, model, software}; }
const Text nil;
std::pair<const char*, const char*> at(const char* lat, const char* lon) { return {lat, lon}; }

const CorpusCase kCorpus[] = {
    {"heic/exifr__heic-iphone.heic", at("7.83143055555556", "98.2966527777778"), camera("Apple", "iPhone XS Max", "12.4")},
    {"heic/exifr__heic-iphone7.heic", at("38.0466416666667", "12.9944111111111"), camera("Apple", "iPhone 7", "13.1.2")},
    {"heic/exifsamples__HMD_Nokia_8.3_5G.heif", at("40.78868522", "-4.00514085"), camera(nil, nil, "00WW_2_270_SP04")},
    {"heic/exifsamples__HMD_Nokia_8.3_5G_hdr.heif", at("40.6629935", "-3.76374051"), camera(nil, nil, "00WW_2_270_SP04")},
    {"heic/exifsamples__IMG_5195.HEIC", at("39.0513444444444", "-94.2887722222222"), camera("Apple", "iPhone 11 Pro Max", "14.4.2")},
    {"heic/exifsamples__iphone_13_pro_max.HEIC", std::nullopt, camera("Apple", "iPhone 13 Pro Max", "15.2.1")},
    {"heic/exiv2__2021-02-13-1929.heic", at("30.5803666666667", "-88.0739055555556"), camera("Apple", "iPhone XR", "14.4")},
    {"heic/exiv2__Canon.HIF", std::nullopt, camera("Canon", "Canon EOS R5", nil)},
    {"heic/exiv2__IMG_3578.heic", std::nullopt, camera("Apple", "iPhone XR", "13.4.1")},
    {"heic/exiv2__Sony.HIF", std::nullopt, camera("SONY", "ILCE-1", "ILCE-1 v1.00")},
    // Recorded with a trailing space, which exiftool trims for display.
    {"heic/exiv2__Stonehenge.heic", at("51.1782805555556", "-1.82663888888889"), camera("NIKON CORPORATION", "NIKON D5300", "Ver.1.00 ")},
    {"heic/filetype__fixture-heic.heic", at("42.7748833333333", "-71.076875"), camera("Apple", "iPhone 7 Plus", "11.0")},
    {"heic/immich__IMG_2682.heic", at("41.2203", "-96.071625"), camera("Apple", "iPhone 7", "12.1.4")},
    {"heic/immich__samsung-one-ui-6.heic", std::nullopt, camera("samsung", "SM-S906U", "S906USQS3DWKA")},
    {"heic/libvips__Example1.heic", std::nullopt, camera("Apple", "iPhone 7 Plus", "11.0")},
    {"heic/libvips__apple-heic-gainmap.heic", at("52.2485361111111", "21.0123722222222"), camera("Apple", "iPhone 16", "26.3.1")},
    {"heic/libvips__heic-orientation-6.heic", at("50.43975", "30.5020722222222"), camera("Apple", "iPhone XS", "13.3.1")},
    {"heic/libvips__oneplus-heic.heic", std::nullopt, camera("OnePlus", "OnePlus 13", nil)},
    {"heic/lychee__classic-car.heic", at("41.8434027777778", "3.06622777777778"), camera("Apple", "iPhone 12 Pro", "16.7.1")},
    {"heic/lychee__sewing-threads.heic", at("41.7260613997222", "1.8261163"), camera("samsung", "SM-A326B", "A326BXXS8CWK2")},
    {"heic/photoprism__iphone_15_pro.heic", at("52.4596055555556", "13.3218416666667"), camera("Apple", "iPhone 15 Pro", "17.1")},
    {"heic/photoprism__iphone_7.heic", at("34.79745", "134.764633333333"), camera("Apple", "iPhone 7", "ProCam 10.5.8")},
    // GPS directory without a fix: empty references and 0/0 rationals.
    {"heic/pillowheif__200MP.heic", std::nullopt, camera("samsung", "Galaxy S24 Ultra", nil)},
    {"heic/pillowheif__L_exif_xmp_iptc.heic", std::nullopt, camera("SONY", "ILCE-7SM3", "ILCE-7SM3 v1.01")},
    {"heic/pillowheif__arrow.heic", std::nullopt, camera("Apple", "iPhone 8 Plus", "11.4.1")},
    {"heic/pillowheif__aux_YCbCr.heic", at("59.5128174", "24.8343057997222"), camera("samsung", "Galaxy S25 Ultra", "S938BXXS3AYDA")},
    // Exiv2's own HEIF reader finds no Exif here (base offset taken for the item offset).
    {"heic/pillowheif__empty_icc.heic", at("46.7547027777778", "33.3361055555556"), camera("Apple", "iPhone XS", "14.6")},
    {"heic/pillowheif__image_small_lightroom.heic", std::nullopt,
     camera("Canon", "Canon EOS 90D", "Adobe Photoshop Lightroom Classic 12.0.1 (Windows)")},
    {"heic/pillowheif__pug.heic", at("44.8504777777778", "34.9766472222222"), camera("Apple", "iPhone 13 Pro", "16.2")},
    {"heic/pillowheif__rgb8_512_512_1_0.heic", at("46.7544527777778", "33.3362166666667"), camera("Apple", "iPhone XS", "12.2")},
    // The primary image's own Exif says 0/1 0/1 0/100, N and E.
    {"heic/pillowheif__spatial_photo.heic", at("0", "0"), camera("Apple", "Apple Vision Pro", "1.1.2")},
    {"heic/pillowheif__xiaomi.heic", at("47.2272888997222", "39.6999921997222"), camera("Xiaomi", "M2012K11AG", nil)},
    {"dng/exifpy__nikon_z_9_hec_dx_cropped.dng", std::nullopt,
     camera("NIKON CORPORATION", "NIKON Z 9", "Adobe DNG Converter 17.4.1 (Windows)")},
    {"dng/exiftool__DNG.dng", std::nullopt, camera("Canon", "Canon EOS 350D DIGITAL", nil)},
    {"dng/exiv2__IMG_1361.dng", at("34.0596083333333", "-84.681725"), camera("Apple", "iPhone 12 Pro", "14.3")},
    {"dng/photoprism__canon_eos_6d.dng", std::nullopt,
     camera("Canon", "Canon EOS 6D", "Adobe Photoshop Camera Raw 11.3.1 (Macintosh)")},
    {"odd/exifr__heic-maybebroken.HEIC", at("23.1779166666667", "113.394316666667"), camera("Apple", "iPhone 8", "11.2.2")},
    {"odd/exiftool__QuickTime.heic", std::nullopt, camera(nil, nil, nil)},
    {"odd/exiv2__heic.heic", std::nullopt, camera(nil, nil, nil)},
    {"odd/exiv2__issue_1793_poc.heic", std::nullopt, std::nullopt},
    {"odd/exiv2__pr_2612_poc.heic", std::nullopt, std::nullopt},
    {"odd/filetype__fixture-Leica-M10.dng", std::nullopt, camera("Leica Camera AG", "LEICA M10", nil)},
    {"odd/filetype__fixture.dng", std::nullopt, camera(nil, nil, nil)},
    // A JPEG named .heic.
    {"odd/photoprism__wrong.heic", std::nullopt, camera("Canon", "Canon EOS 6D", "Adobe Photoshop CS6 (Macintosh)")},
    {"odd/pillowheif__corrupted.heic", std::nullopt, std::nullopt},
    {"odd/pillowheif__corrupted.hif", std::nullopt, camera("Canon", "Canon EOS-1D X Mark III", nil)},
    {"odd/pillowheif__empty.heic", std::nullopt, std::nullopt},
    {"odd/pillowheif__invalid_id.heic", std::nullopt, camera(nil, nil, nil)},
    {"odd/pillowheif__truncated.heic", std::nullopt, camera(nil, nil, nil)},
};

/// Half a unit of the last decimal exiftool printed; exact for integers.
double tolerance(const std::string& text) {
    auto point = text.find('.');
    if (point == std::string::npos)
        return 0;
    return 0.5 * std::pow(10.0, -static_cast<double>(text.size() - point - 1)) + 1e-15;
}

double number(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

class CorpusTest : public ::testing::TestWithParam<CorpusCase> {
protected:
    void SetUp() override {
        auto dir = corpusDir();
        if (!dir)
            GTEST_SKIP() << "corpus not present";
        path_ = *dir / GetParam().file;
        ASSERT_TRUE(std::filesystem::exists(path_)) << path_;
    }
    std::filesystem::path path_;
    diag::LineCapture quiet_;
};

TEST_P(CorpusTest, Position) {
    const CorpusCase& c = GetParam();
    auto position = readImageGPS(path_);
    ASSERT_EQ(position.has_value(), c.position.has_value());
    if (!position)
        return;
    EXPECT_NEAR(position->latitude, number(c.position->first), tolerance(c.position->first));
    EXPECT_NEAR(position->longitude, number(c.position->second), tolerance(c.position->second));
}

TEST_P(CorpusTest, Camera) {
    EXPECT_EQ(readDeviceData(path_), GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(Inventory, CorpusTest, ::testing::ValuesIn(kCorpus), [](const auto& info) {
    std::string name = info.param.file;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
});

TEST(Corpus, EveryImageOfTheInventoryIsInTheTable) {
    auto dir = corpusDir();
    if (!dir)
        GTEST_SKIP() << "corpus not present";
    const std::string inventory = readFile(*dir / "INVENTORY.md");
    int images = 0;
    for (std::size_t pos = 0; (pos = inventory.find("\n| ", pos)) != std::string::npos; ++pos) {
        std::string file = inventory.substr(pos + 3, inventory.find(' ', pos + 3) - pos - 3);
        auto ext = std::filesystem::path(file).extension().string();
        if (ext == ".xmp" || file.find('/') == std::string::npos)
            continue;
        ++images;
        bool listed = std::any_of(std::begin(kCorpus), std::end(kCorpus),
                                  [&file](const CorpusCase& c) { return file == c.file; });
        EXPECT_TRUE(listed) << file;
    }
    EXPECT_EQ(images, static_cast<int>(std::size(kCorpus)));
}

}  // namespace
}  // namespace meridane::testing
