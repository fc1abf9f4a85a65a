#include "TestImages.h"

#include "ImageBuilder.h"

#include <fstream>
#include <stdexcept>

namespace meridane::testing {

void writeTestImage(const std::filesystem::path& path, const TestImage& image) {
    std::optional<std::pair<double, double>> position;
    if (image.position)
        position = std::pair{image.position->latitude, image.position->longitude};
    const Bytes tiff = buildTiff(cameraTiff(image.make, image.model, image.software, position));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(tiff.data(), static_cast<std::streamsize>(tiff.size()));
    if (!out)
        throw std::runtime_error("cannot write test image " + path.string());
}

std::string testSidecar(std::optional<std::string> latitude, std::optional<std::string> longitude,
                        std::optional<std::string> latitudeRef, std::optional<std::string> longitudeRef) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 6.0.0\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\"\n"
        "    xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
        "    xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"\n"
        "    xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\">\n"
        "   <tiff:Make>Apple</tiff:Make>\n"
        "   <photoshop:DateCreated>2023-06-01T12:00:00</photoshop:DateCreated>\n";
    auto element = [&xml](const char* name, const std::optional<std::string>& text) {
        if (text)
            xml += std::string("   <") + name + ">" + *text + "</" + name + ">\n";
    };
    element("exif:GPSLatitude", latitude);
    element("exif:GPSLongitude", longitude);
    element("exif:GPSLatitudeRef", latitudeRef);
    element("exif:GPSLongitudeRef", longitudeRef);
    xml +=
        "  </rdf:Description>\n"
        " </rdf:RDF>\n"
        "</x:xmpmeta>\n";
    return xml;
}

}  // namespace meridane::testing
