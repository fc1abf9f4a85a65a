// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/XmpPacket.h"

#include "xmp/XmlText.h"

#include <libxml/parser.h>
#include <libxml/dict.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace meridane::xmp {
namespace {

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

// Text that entity references may add to a document once expanded. The
// parser refuses exponential "billion laughs" chains itself; a single large
// entity referenced many times is counted here.
constexpr size_t kMaxExpandedEntityBytes = 10'000'000;

// Entities nested deeper than this are refused; the parser itself stops at 40.
constexpr int kMaxEntityNesting = 64;

std::string_view viewOf(const xmlChar* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

void initLibxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// The structured handler's error type changed constness between libxml2
// releases; take whatever this one passes.
template <typename Fn>
struct HandlerErrorArg;
template <typename E>
struct HandlerErrorArg<void (*)(void*, E*)> {
    using type = E;
};
using LibxmlError = HandlerErrorArg<xmlStructuredErrorFunc>::type;

// What the structured handler keeps of one parse: the first fatal error
// (the cause; later ones are consequences) and the first plain error.
struct ErrorCapture {
    bool haveFatal = false;
    bool haveError = false;
    int fatalCode = 0;
    int errorCode = 0;
    std::string fatalMessage;
    std::string errorMessage;
};

std::string describe(const LibxmlError* error) {
    std::string message = error->message ? error->message : "";
    for (char& c : message)
        if (c == '\n' || c == '\r')
            c = ' ';
    while (!message.empty() && message.back() == ' ')
        message.pop_back();
    if (message.empty())
        message = "unknown error";
    if (error->line > 0)
        return "XML parse error at line " + std::to_string(error->line) + ": " + message;
    return "XML parse error: " + message;
}

// Hands the parser the text it asks for, chunk by chunk.
struct MemoryReader {
    std::string_view text;
    size_t at = 0;

    static int read(void* context, char* out, int length) {
        auto* reader = static_cast<MemoryReader*>(context);
        const size_t count = std::min(static_cast<size_t>(std::max(length, 0)), reader->text.size() - reader->at);
        std::memcpy(out, reader->text.data() + reader->at, count);
        reader->at += count;
        return static_cast<int>(count);
    }
};

struct ContextDeleter {
    void operator()(xmlParserCtxtPtr context) const { xmlFreeParserCtxt(context); }
};
using ParserContext = std::unique_ptr<xmlParserCtxt, ContextDeleter>;

// A context is kept per thread between parses: making one costs about as
// much as parsing a small sidecar. It is out of its slot while in use, so a
// parse can never share it.
thread_local ParserContext tKeptContext;

// Names the parser has interned over the context's life; past this, a
// hostile run of sidecars full of distinct names would keep growing it.
constexpr size_t kMaxKeptNames = 4096;

ParserContext takeContext() {
    if (tKeptContext)
        return std::move(tKeptContext);
    return ParserContext(xmlNewParserCtxt());
}

void keepContext(ParserContext context) {
    if (context->dict && static_cast<size_t>(xmlDictSize(context->dict)) > kMaxKeptNames)
        return;
    tKeptContext = std::move(context);
}

GPSName gpsNameOf(std::string_view uri, std::string_view name) {
    if (uri != kExifNamespace)
        return GPSName::none;
    for (size_t i = 0; i < std::size(kGPSLocalNames); ++i)
        if (name == kGPSLocalNames[i])
            return static_cast<GPSName>(i);
    return GPSName::none;
}

bool isRdf(const xmlChar* uri, const xmlChar* local, std::string_view name) {
    return viewOf(uri) == kRdfNamespace && viewOf(local) == name;
}

}  // namespace

// Listens to the parser's SAX callbacks and records the descriptions of the
// first rdf:RDF, their properties and where each stands.
class PacketBuilder {
public:
    PacketBuilder(xmlParserCtxtPtr context, XmpPacket& packet) : context_(context), packet_(packet) {}

    static void install(xmlSAXHandler& sax) {
        sax.startElementNs = &onStart;
        sax.endElementNs = &onEnd;
        sax.reference = &onReference;
        sax.characters = nullptr;
        sax.ignorableWhitespace = nullptr;
        sax.cdataBlock = nullptr;
        sax.comment = nullptr;
        sax.processingInstruction = nullptr;
        sax.serror = &onError;
        // The old-style callbacks would print when the structured one is absent.
        sax.warning = nullptr;
        sax.error = nullptr;
    }

    ErrorCapture capture;
    bool entitiesTooLarge = false;

private:
    struct Attribute {
        std::string_view local, prefix, uri, value;
    };

    static PacketBuilder* from(void* context) {
        auto* parser = static_cast<xmlParserCtxtPtr>(context);
        return parser ? static_cast<PacketBuilder*>(parser->_private) : nullptr;
    }

    // Installed per parser context, so nothing reaches standard error and
    // no process-wide handler is touched. Contexts made for entity content
    // inherit `_private`.
    static void onError(void* userData, LibxmlError* error) {
        PacketBuilder* builder = from(userData);
        if (!builder || !error || error->level < XML_ERR_ERROR)
            return;
        ErrorCapture& capture = builder->capture;
        if (error->level == XML_ERR_FATAL && !capture.haveFatal) {
            capture.haveFatal = true;
            capture.fatalCode = error->code;
            capture.fatalMessage = describe(error);
        } else if (!capture.haveError) {
            capture.haveError = true;
            capture.errorCode = error->code;
            capture.errorMessage = describe(error);
        }
    }

    static void onStart(void* context, const xmlChar* local, const xmlChar* prefix, const xmlChar* uri, int,
                        const xmlChar**, int attributeCount, int defaulted, const xmlChar** attributes) {
        PacketBuilder* builder = from(context);
        // Elements inside entity text are parsed in a context of their own;
        // they have no place in the file and are not properties here.
        if (!builder || context != builder->context_)
            return;
        builder->start(local, prefix, uri, attributeCount - defaulted, attributes);
    }

    static void onEnd(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
        PacketBuilder* builder = from(context);
        if (!builder || context != builder->context_)
            return;
        builder->end();
    }

    static void onReference(void* context, const xmlChar* name) {
        PacketBuilder* builder = from(context);
        if (builder)
            builder->countReference(name);
    }

    std::string_view text() const { return packet_.text(); }

    bool keeps(const Property& property) const {
        return packet_.detail_ == XmpPacket::Detail::allProperties || property.gps != GPSName::none ||
               packet_.view(property.name).find("GPS") != std::string_view::npos;
    }

    std::uint32_t position() const {
        const xmlParserInputPtr input = context_->input;
        return static_cast<std::uint32_t>(input->consumed + static_cast<unsigned long>(input->cur - input->base));
    }

    // The '<' of the tag that ends before `at`; a tag holds no other '<'.
    std::uint32_t tagBegin(std::uint32_t at) const {
        const size_t found = text().rfind('<', at);
        return found == std::string_view::npos ? 0 : static_cast<std::uint32_t>(found);
    }

    static Attribute attributeAt(const xmlChar** attributes, int index) {
        const xmlChar** a = attributes + 5 * index;
        return {viewOf(a[0]), viewOf(a[1]), viewOf(a[2]),
                std::string_view(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3]))};
    }

    void start(const xmlChar* local, const xmlChar* prefix, const xmlChar* uri, int attributeCount,
               const xmlChar** attributes) {
        ++depth_;
        const std::uint32_t at = position();  // at the tag's '>' or "/>"
        const bool selfClosing = at < text().size() && text()[at] == '/';
        const Span tag{tagBegin(at), at + (selfClosing ? 2u : 1u)};
        if (!packet_.hasRdf_) {
            outer_.push_back(tag);
            if (isRdf(uri, local, "RDF")) {
                packet_.hasRdf_ = true;
                rdfDepth_ = depth_;
                packet_.outerStartTags_ = std::move(outer_);
            }
            return;
        }
        if (rdfDepth_ == 0)
            return;  // past the first rdf:RDF
        const int level = depth_ - rdfDepth_;
        if (level == 1) {
            inDescription_ = isRdf(uri, local, "Description");
            if (inDescription_)
                startDescription(tag, selfClosing, attributeCount, attributes);
            return;
        }
        if (!inDescription_)
            return;
        if (level == 2) {
            startProperty(tag, selfClosing, local, prefix, uri, attributeCount, attributes);
            return;
        }
        if (valueDepth_ != 0 && depth_ > valueDepth_)
            valueIsText_ = false;
        if (level == 3) {
            property_.hasChildren = true;
            if (viewOf(uri) == kRdfNamespace) {
                const std::string_view name = viewOf(local);
                if (name == "Bag" || name == "Seq" || name == "Alt") {
                    property_.isArray = true;
                } else if (name == "Description") {
                    property_.nestedDescription = true;
                    findValueAttribute(tag, attributeCount, attributes);
                } else if (name == "value" && property_.parseTypeResource) {
                    startValue(tag, selfClosing);
                }
            }
        } else if (level == 4 && property_.nestedDescription && isRdf(uri, local, "value")) {
            startValue(tag, selfClosing);
        }
    }

    void end() {
        const std::uint32_t at = position();  // after the end tag's '>', or after "/>"
        if (!packet_.hasRdf_) {
            if (!outer_.empty())
                outer_.pop_back();
        } else if (rdfDepth_ != 0) {
            const int level = depth_ - rdfDepth_;
            if (level == 0) {
                rdfDepth_ = 0;
            } else if (level == 1) {
                inDescription_ = false;
            } else if (level == 2 && inDescription_) {
                endProperty(at);
            } else if (depth_ == valueDepth_) {
                endValue(at);
            }
        }
        --depth_;
    }

    void startDescription(Span tag, bool selfClosing, int attributeCount, const xmlChar** attributes) {
        Description description;
        description.startTag = tag;
        description.selfClosing = selfClosing;
        description.firstProperty = static_cast<std::uint32_t>(packet_.properties_.size());
        // The scanned attributes are those the parser reports, in order,
        // with the namespace declarations among them.
        const xmltext::ScannedTag scanned = xmltext::scanStartTag(text(), tag.begin);
        int index = 0;
        for (const auto& written : scanned.attributes) {
            if (written.name == "xmlns" || written.name.starts_with("xmlns:"))
                continue;
            if (index >= attributeCount)
                break;
            const Attribute attribute = attributeAt(attributes, index++);
            if (attribute.uri.empty() || attribute.uri == kRdfNamespace || attribute.uri == kXmlNamespace)
                continue;
            Property property;
            property.form = Property::Form::attribute;
            property.whole = {static_cast<std::uint32_t>(written.nameBegin),
                              static_cast<std::uint32_t>(written.valueEnd + 1)};
            property.name = {static_cast<std::uint32_t>(written.nameBegin),
                             static_cast<std::uint32_t>(written.nameBegin + written.name.size())};
            property.gps = gpsNameOf(attribute.uri, attribute.local);
            property.value = {ValueSlot::Kind::attribute, written.quote,
                              {static_cast<std::uint32_t>(written.valueBegin),
                               static_cast<std::uint32_t>(written.valueEnd)}};
            if (keeps(property)) {
                packet_.properties_.push_back(property);
                ++description.propertyCount;
            }
        }
        packet_.descriptions_.push_back(description);
    }

    void startProperty(Span tag, bool selfClosing, const xmlChar* local, const xmlChar* prefix,
                       const xmlChar* uri, int attributeCount, const xmlChar** attributes) {
        property_ = {};
        property_.index = packet_.properties_.size();
        property_.contentBegin = tag.end;
        property_.selfClosing = selfClosing;
        Property property;
        property.form = Property::Form::element;
        const size_t prefixSize = prefix ? std::strlen(reinterpret_cast<const char*>(prefix)) + 1 : 0;
        property.name = {tag.begin + 1,
                         static_cast<std::uint32_t>(tag.begin + 1 + prefixSize + viewOf(local).size())};
        property.whole.begin = tag.begin;
        property.gps = gpsNameOf(viewOf(uri), viewOf(local));
        for (int i = 0; i < attributeCount; ++i) {
            const Attribute attribute = attributeAt(attributes, i);
            if (attribute.uri == kRdfNamespace) {
                if (attribute.local == "parseType")
                    (attribute.value == "Resource" ? property_.parseTypeResource : property_.notText) = true;
                else if (attribute.local == "resource" || attribute.local == "nodeID")
                    property_.notText = true;
                else if (attribute.local == "value")
                    property_.valueAttribute = true;
            } else if (attribute.uri != kXmlNamespace) {
                property_.qualifierAttributes = true;  // a struct written in attributes
            }
        }
        if (property_.valueAttribute)
            findValueAttribute(tag, attributeCount, attributes);
        packet_.properties_.push_back(property);
        Description& description = packet_.descriptions_.back();
        ++description.propertyCount;
        ++description.elementCount;
    }

    // Where an rdf:value attribute of this start tag stands.
    void findValueAttribute(Span tag, int attributeCount, const xmlChar** attributes) {
        std::string qualified;
        for (int i = 0; i < attributeCount; ++i) {
            const Attribute attribute = attributeAt(attributes, i);
            if (attribute.uri == kRdfNamespace && attribute.local == "value")
                qualified = std::string(attribute.prefix) + ":value";
        }
        if (qualified.empty())
            return;
        for (const auto& written : xmltext::scanStartTag(text(), tag.begin).attributes) {
            if (written.name == qualified) {
                property_.value = {ValueSlot::Kind::attribute, written.quote,
                                   {static_cast<std::uint32_t>(written.valueBegin),
                                    static_cast<std::uint32_t>(written.valueEnd)}};
                property_.haveValue = true;
            }
        }
    }

    void startValue(Span tag, bool selfClosing) {
        valueDepth_ = depth_;
        valueIsText_ = true;
        valueContentBegin_ = tag.end;
        valueSelfClosing_ = selfClosing;
    }

    void endValue(std::uint32_t at) {
        valueDepth_ = 0;
        if (!valueIsText_ || property_.haveValue)
            return;
        property_.haveValue = true;
        if (valueSelfClosing_)
            property_.value = {ValueSlot::Kind::emptyElement, '"', {at - 2, at}};
        else
            property_.value = {ValueSlot::Kind::content, '"', {valueContentBegin_, tagBegin(at - 1)}};
    }

    void endProperty(std::uint32_t at) {
        Property& property = packet_.properties_[property_.index];
        property.whole.end = at;
        Description& description = packet_.descriptions_.back();
        description.lastElement = property.whole;
        if (!keeps(property)) {
            packet_.properties_.pop_back();
            --description.propertyCount;
            return;
        }
        const bool anyQualifier = property_.parseTypeResource || property_.qualifierAttributes ||
                                  property_.nestedDescription;
        if (property_.haveValue && !property_.notText && (anyQualifier || property_.valueAttribute)) {
            property.shape = Property::Shape::qualified;
            property.value = property_.value;
        } else if (property_.isArray) {
            property.shape = Property::Shape::array;
        } else if (property_.hasChildren || anyQualifier || property_.notText || property_.valueAttribute) {
            property.shape = Property::Shape::structure;
        } else if (property_.selfClosing) {
            property.value = {ValueSlot::Kind::emptyElement, '"', {at - 2, at}};
        } else {
            property.value = {ValueSlot::Kind::content, '"', {property_.contentBegin, tagBegin(at - 1)}};
        }
    }

    void countReference(const xmlChar* name) {
        if (entitiesTooLarge || !context_->myDoc)
            return;
        size_t size = 0;
        if (!expandedSize(xmlGetDocEntity(context_->myDoc, name), 0, size) ||
            (expandedTotal_ += size) > kMaxExpandedEntityBytes) {
            entitiesTooLarge = true;
            xmlStopParser(context_);
        }
    }

    // The text an entity stands for once fully expanded, its nested
    // references counted through their own sizes.
    bool expandedSize(xmlEntityPtr entity, int depth, size_t& size) {
        size = 0;
        if (!entity || !entity->content)
            return true;
        if (depth > kMaxEntityNesting)
            return false;
        if (const auto known = entitySizes_.find(entity); known != entitySizes_.end()) {
            size = known->second;
            return true;
        }
        const std::string_view content = viewOf(entity->content);
        size_t total = 0;
        for (size_t at = 0; at < content.size();) {
            const size_t amp = content.find('&', at);
            const size_t semicolon = amp == std::string_view::npos ? amp : content.find(';', amp);
            if (semicolon == std::string_view::npos) {
                total += content.size() - at;
                break;
            }
            total += amp - at;
            const std::string name(content.substr(amp + 1, semicolon - amp - 1));
            size_t nested = 1;
            if (!name.empty() && name.front() != '#' &&
                !expandedSize(xmlGetDocEntity(context_->myDoc, reinterpret_cast<const xmlChar*>(name.c_str())),
                              depth + 1, nested))
                return false;
            total += nested;
            at = semicolon + 1;
        }
        entitySizes_[entity] = total;
        size = total;
        return true;
    }

    // The property element being read and what its children say about it.
    struct OpenProperty {
        size_t index = 0;
        std::uint32_t contentBegin = 0;
        bool selfClosing = false;
        bool hasChildren = false;
        bool isArray = false;
        bool nestedDescription = false;
        bool parseTypeResource = false;
        bool qualifierAttributes = false;
        bool valueAttribute = false;
        bool notText = false;
        bool haveValue = false;
        ValueSlot value;
    };

    xmlParserCtxtPtr context_;
    XmpPacket& packet_;
    int depth_ = 0;
    int rdfDepth_ = 0;
    bool inDescription_ = false;
    std::vector<Span> outer_;
    OpenProperty property_;
    int valueDepth_ = 0;
    bool valueIsText_ = false;
    bool valueSelfClosing_ = false;
    std::uint32_t valueContentBegin_ = 0;
    size_t expandedTotal_ = 0;
    std::unordered_map<xmlEntityPtr, size_t> entitySizes_;
};

XmpPacket::XmpPacket(XmpPacket&&) noexcept = default;
XmpPacket& XmpPacket::operator=(XmpPacket&&) noexcept = default;
XmpPacket::~XmpPacket() = default;

Result<XmpPacket> XmpPacket::parse(std::string_view bytes, Detail detail) {
    if (bytes.size() > static_cast<size_t>(INT_MAX) / 4)
        return Error{ErrorDomain::xmlParser, XML_ERR_INTERNAL_ERROR,
                     "XML parse error: the file is too large (" + std::to_string(bytes.size()) + " bytes)"};
    initLibxml();

    XmpPacket packet;
    packet.detail_ = detail;
    if (xmltext::needsConversion(bytes)) {
        auto utf8 = xmltext::toUtf8(bytes);
        if (!utf8)
            return utf8.error();
        packet.ownText_ = std::move(utf8->text);
        packet.converted_ = true;
    } else {
        packet.viewedText_ = bytes;
    }
    const std::string_view text = packet.text();

    ParserContext context = takeContext();
    if (!context)
        return Error{ErrorDomain::xmlParser, XML_ERR_NO_MEMORY, "XML parse error: out of memory"};
    PacketBuilder builder(context.get(), packet);
    context->_private = &builder;
    PacketBuilder::install(*context->sax);
    context->vctxt.error = nullptr;
    context->vctxt.warning = nullptr;

    // No network, no DTD loading, no entity substitution, no validation; the
    // parser's built-in depth and amplification limits stay on (no HUGE).
    const int options = XML_PARSE_NONET | XML_PARSE_NODICT;
    // The parser takes the text in chunks as it goes, as it would from a
    // file: it holds a window of it, not a second copy of the whole.
    MemoryReader reader{text, 0};
    // Resets the context first: nothing of an earlier parse carries over.
    xmlDocPtr doc = xmlCtxtReadIO(context.get(), &MemoryReader::read, nullptr, &reader, nullptr, nullptr, options);
    const bool wellFormed = context->wellFormed != 0 && doc != nullptr;
    // The document holds only what the DTD declared; no tree was built.
    if (doc)
        xmlFreeDoc(doc);
    context->_private = nullptr;

    std::optional<Error> error;
    if (builder.entitiesTooLarge) {
        error = Error{ErrorDomain::xmlParser, XML_ERR_ENTITY_LOOP,
                      "XML parse error: entity references expand to more than " +
                          std::to_string(kMaxExpandedEntityBytes) + " characters"};
    } else if (!wellFormed) {
        const ErrorCapture& capture = builder.capture;
        error = Error{ErrorDomain::xmlParser, XML_ERR_DOCUMENT_EMPTY, "XML parse error: Document is empty"};
        if (capture.haveFatal)
            error = Error{ErrorDomain::xmlParser, capture.fatalCode, capture.fatalMessage};
        else if (capture.haveError)
            error = Error{ErrorDomain::xmlParser, capture.errorCode, capture.errorMessage};
        else if (const xmlError* last = xmlCtxtGetLastError(context.get()); last && last->code != XML_ERR_OK)
            error = Error{ErrorDomain::xmlParser, last->code,
                          "XML parse error: " + std::string(viewOf(reinterpret_cast<const xmlChar*>(last->message)))};
    }
    keepContext(std::move(context));
    if (error)
        return *error;
    return packet;
}

std::string XmpPacket::valueText(const Property& property) const {
    if (property.shape == Property::Shape::simple || property.shape == Property::Shape::qualified) {
        switch (property.value.kind) {
        case ValueSlot::Kind::attribute:
            return xmltext::decodeAttribute(view(property.value.span));
        case ValueSlot::Kind::content:
            return xmltext::decodeContent(view(property.value.span));
        case ValueSlot::Kind::emptyElement:
        case ValueSlot::Kind::none:
            return {};
        }
    }
    if (property.form == Property::Form::attribute)
        return xmltext::decodeAttribute(view(property.value.span));
    // All the text inside the element, as an element's string value.
    const xmltext::ScannedTag tag = xmltext::scanStartTag(text(), property.whole.begin);
    if (tag.selfClosing)
        return {};
    return xmltext::decodeContent(text().substr(tag.end, property.whole.end - tag.end));
}

}  // namespace meridane::xmp
