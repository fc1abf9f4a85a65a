// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/XmlDocument.h"

#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/dict.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace meridane::xmp {
namespace {

// Text that entity references may add to a document once expanded. The
// parser refuses exponential "billion laughs" chains itself, but it keeps
// references unexpanded in the tree, so a single large entity referenced many
// times would only blow up later, when an element's text is read.
constexpr size_t kMaxExpandedEntityBytes = 10'000'000;

// Entities nested deeper than this are refused; the parser itself stops at 40.
constexpr int kMaxEntityNesting = 64;

// Well-known XMP prefixes, used only when a new property element's prefix is
// declared nowhere in scope: writing it unbound would leave a sidecar that
// other XMP readers reject.
struct KnownNamespace {
    const char* prefix;
    const char* uri;
};
constexpr KnownNamespace kKnownNamespaces[] = {
    {"exif", "http://ns.adobe.com/exif/1.0/"},
    {"tiff", "http://ns.adobe.com/tiff/1.0/"},
    {"xmp", "http://ns.adobe.com/xap/1.0/"},
    {"dc", "http://purl.org/dc/elements/1.1/"},
    {"photoshop", "http://ns.adobe.com/photoshop/1.0/"},
    {"rdf", "http://www.w3.org/1999/02/22-rdf-syntax-ns#"},
};

const xmlChar* xmlText(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

std::string fromXml(const xmlChar* text) {
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
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

// Installed per parser context, so nothing reaches standard error and no
// process-wide handler is touched. The parser passes its context as the user
// data; sub-contexts made for entity content inherit `_private`.
void onParserError(void* userData, LibxmlError* error) {
    if (!userData || !error || error->level < XML_ERR_ERROR)
        return;
    auto* context = static_cast<xmlParserCtxtPtr>(userData);
    auto* capture = static_cast<ErrorCapture*>(context->_private);
    if (!capture)
        return;
    if (error->level == XML_ERR_FATAL && !capture->haveFatal) {
        capture->haveFatal = true;
        capture->fatalCode = error->code;
        capture->fatalMessage = describe(error);
    } else if (!capture->haveError) {
        capture->haveError = true;
        capture->errorCode = error->code;
        capture->errorMessage = describe(error);
    }
}

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

bool isBlankText(xmlNodePtr node) { return node->type == XML_TEXT_NODE && xmlIsBlankNode(node); }

// True when the element's blank text is indentation: it holds elements and
// no other text, and xml:space="preserve" does not apply to it.
bool holdsOnlyIndentation(xmlNodePtr element) {
    bool hasElement = false;
    for (xmlNodePtr child = element->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE)
            hasElement = true;
        else if (child->type != XML_COMMENT_NODE && child->type != XML_PI_NODE && !isBlankText(child))
            return false;  // text, CDATA or an entity reference: mixed content
    }
    return hasElement && xmlNodeGetSpacePreserve(element) != 1;
}

bool holdsOnlyBlankText(xmlNodePtr element) {
    for (xmlNodePtr child = element->children; child; child = child->next)
        if (!isBlankText(child))
            return false;
    return element->children && xmlNodeGetSpacePreserve(element) != 1;
}

// Splits a qualified name at its one colon; no prefix when there is none.
std::pair<std::string, std::string> splitQualified(std::string_view qualifiedName) {
    const std::string qname(qualifiedName);
    if (const auto colon = qname.find(':');
        colon != std::string::npos && colon > 0 && colon + 1 < qname.size() &&
        qname.find(':', colon + 1) == std::string::npos)
        return {qname.substr(0, colon), qname.substr(colon + 1)};
    return {std::string(), qname};
}

std::vector<xmlAttrPtr> matchingAttributes(xmlNodePtr element, std::string_view qualifiedName) {
    std::vector<xmlAttrPtr> found;
    if (!element)
        return found;
    const auto split = splitQualified(qualifiedName);
    const std::string& prefix = split.first;
    const std::string& local = split.second;
    const xmlNs* bound = prefix.empty() ? nullptr : xmlSearchNs(element->doc, element, xmlText(prefix));
    for (xmlAttrPtr attr = element->properties; attr; attr = attr->next) {
        if (fromXml(attr->name) != local)
            continue;
        const bool samePrefix = attr->ns && attr->ns->prefix ? fromXml(attr->ns->prefix) == prefix : prefix.empty();
        const bool sameNamespace = bound && attr->ns && attr->ns->href && bound->href &&
                                   xmlStrEqual(attr->ns->href, bound->href);
        if (samePrefix || sameNamespace)
            found.push_back(attr);
    }
    return found;
}

// Counts the text an entity stands for once fully expanded, remembering each
// entity's size. Returns false when the nesting is unreasonably deep.
class EntityExpansion {
public:
    explicit EntityExpansion(xmlDocPtr doc) : doc_(doc) {}

    bool add(xmlNodePtr reference, size_t& total) {
        size_t size = 0;
        if (!expandedSize(reference->name, 0, size))
            return false;
        total = saturatingAdd(total, size);
        return true;
    }

private:
    static size_t saturatingAdd(size_t a, size_t b) { return a > SIZE_MAX - b ? SIZE_MAX : a + b; }

    bool expandedSize(const xmlChar* name, int depth, size_t& size) {
        if (depth > kMaxEntityNesting)
            return false;
        xmlEntityPtr entity = xmlGetDocEntity(doc_, name);
        if (!entity) {
            size = 0;
            return true;
        }
        if (auto known = sizes_.find(entity); known != sizes_.end()) {
            size = known->second;
            return true;
        }
        size_t total = 0;
        // Walk the entity's parsed content without recursion, except into
        // nested references, whose depth the guard above bounds.
        xmlNodePtr node = entity->children;
        while (node && node != reinterpret_cast<xmlNodePtr>(entity)) {
            if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                total = saturatingAdd(total, static_cast<size_t>(xmlStrlen(node->content)));
            } else if (node->type == XML_ENTITY_REF_NODE) {
                size_t nested = 0;
                if (!expandedSize(node->name, depth + 1, nested))
                    return false;
                total = saturatingAdd(total, nested);
            } else if (node->type == XML_ELEMENT_NODE && node->children) {
                node = node->children;
                continue;
            }
            while (node && node != reinterpret_cast<xmlNodePtr>(entity) && !node->next)
                node = node->parent;
            if (node && node != reinterpret_cast<xmlNodePtr>(entity))
                node = node->next;
        }
        sizes_[entity] = total;
        size = total;
        return true;
    }

    xmlDocPtr doc_;
    std::unordered_map<xmlEntityPtr, size_t> sizes_;
};

// One pass over the element tree after parsing: drops indentation, and
// measures what entity references would expand to. Iterative, so document
// depth never reaches the call stack.
Status tidyTree(xmlDocPtr doc) {
    EntityExpansion expansion(doc);
    size_t expanded = 0;
    xmlNodePtr root = reinterpret_cast<xmlNodePtr>(doc);
    xmlNodePtr node = doc->children;
    while (node) {
        if (node->type == XML_ELEMENT_NODE && node->children && holdsOnlyIndentation(node)) {
            for (xmlNodePtr child = node->children, following; child; child = following) {
                following = child->next;
                if (isBlankText(child)) {
                    xmlUnlinkNode(child);
                    xmlFreeNode(child);
                }
            }
        }
        xmlNodePtr next = nullptr;
        if (node->type == XML_ELEMENT_NODE && node->children) {
            next = node->children;
        } else {
            // Climb until a following sibling exists.
            xmlNodePtr cursor = node;
            while (cursor != root && !cursor->next)
                cursor = cursor->parent;
            next = cursor == root ? nullptr : cursor->next;
        }
        if (node->type == XML_ENTITY_REF_NODE) {
            if (!expansion.add(node, expanded) || expanded > kMaxExpandedEntityBytes)
                return Error{ErrorDomain::xmlParser, XML_ERR_ENTITY_LOOP,
                             "XML parse error: entity references expand to more than " +
                                 std::to_string(kMaxExpandedEntityBytes) + " characters"};
        }
        node = next;
    }
    return Done{};
}

std::string_view viewOf(const xmlChar* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

std::optional<NameView> nameViewOf(xmlNodePtr node) {
    if (!node || !node->name)
        return std::nullopt;
    if (node->type == XML_ELEMENT_NODE && node->ns && node->ns->prefix)
        return NameView{viewOf(node->ns->prefix), viewOf(node->name)};
    return NameView{{}, viewOf(node->name)};
}

std::optional<std::string> qualifiedName(xmlNodePtr node) {
    if (!node || !node->name)
        return std::nullopt;
    std::string name = fromXml(node->name);
    if (node->type == XML_ELEMENT_NODE && node->ns && node->ns->prefix)
        return fromXml(node->ns->prefix) + ":" + name;
    return name;
}

std::optional<std::string> nodeText(xmlNodePtr node) {
    if (!node)
        return std::nullopt;
    xmlChar* content = xmlNodeGetContent(node);
    if (!content)
        return node->type == XML_ELEMENT_NODE ? std::optional<std::string>(std::string()) : std::nullopt;
    std::string text = fromXml(content);
    xmlFree(content);
    return text;
}

void removeChildren(xmlNodePtr element) {
    xmlNodePtr child = element->children;
    while (child) {
        xmlNodePtr next = child->next;
        xmlUnlinkNode(child);
        xmlFreeNode(child);
        child = next;
    }
}

// Appends a text node holding `value` literally: "&" stays a character, not
// the start of an entity reference.
void appendText(xmlNodePtr element, std::string_view value) {
    if (value.empty())
        return;
    xmlNodePtr text = xmlNewDocTextLen(element->doc, reinterpret_cast<const xmlChar*>(value.data()),
                                       static_cast<int>(value.size()));
    if (text && !xmlAddChild(element, text))
        xmlFreeNode(text);
}

}  // namespace

// ---- XmlNode ----------------------------------------------------------------

bool XmlNode::isElement() const { return node_ && node_->type == XML_ELEMENT_NODE; }

std::optional<std::string> XmlNode::name() const {
    if (!node_ || (node_->type != XML_ELEMENT_NODE && node_->type != XML_PI_NODE))
        return std::nullopt;
    return qualifiedName(node_);
}

std::optional<NameView> XmlNode::nameView() const {
    if (!node_ || (node_->type != XML_ELEMENT_NODE && node_->type != XML_PI_NODE))
        return std::nullopt;
    return nameViewOf(node_);
}

XmlNode XmlNode::firstChild() const { return XmlNode(node_ ? node_->children : nullptr); }

XmlNode XmlNode::nextSibling() const { return XmlNode(node_ ? node_->next : nullptr); }

XmlNode XmlNode::parent() const {
    xmlNodePtr up = node_ ? node_->parent : nullptr;
    return XmlNode(up && up->type == XML_ELEMENT_NODE ? up : nullptr);
}

std::optional<std::string> XmlNode::stringValue() const { return nodeText(node_); }

std::optional<XmlElement> XmlNode::asElement() const {
    if (!isElement())
        return std::nullopt;
    return XmlElement(node_);
}

// ---- XmlElement -------------------------------------------------------------

std::optional<std::string> XmlElement::name() const { return qualifiedName(node_); }

std::optional<NameView> XmlElement::nameView() const { return nameViewOf(node_); }

XmlNode XmlElement::firstChild() const { return XmlNode(node_ ? node_->children : nullptr); }

std::vector<XmlNode> XmlElement::children() const {
    std::vector<XmlNode> result;
    for (xmlNodePtr child = node_ ? node_->children : nullptr; child; child = child->next)
        result.emplace_back(child);
    return result;
}

std::optional<std::string> XmlElement::stringValue() const { return nodeText(node_); }

void XmlElement::setStringValue(std::string_view value) {
    if (!node_)
        return;
    removeChildren(node_);
    appendText(node_, value);
}

std::optional<std::string> XmlElement::attribute(std::string_view qualifiedName) const {
    const auto found = matchingAttributes(node_, qualifiedName);
    if (found.empty())
        return std::nullopt;
    xmlChar* value = xmlNodeListGetString(node_->doc, found.front()->children, 1);
    std::string text = fromXml(value);
    xmlFree(value);
    return text;
}

void XmlElement::removeAttribute(std::string_view qualifiedName) {
    for (xmlAttrPtr attr : matchingAttributes(node_, qualifiedName))
        xmlRemoveProp(attr);
}

XmlElement XmlElement::appendChildElement(std::string_view qualifiedName, std::string_view value) {
    if (!node_)
        return XmlElement(nullptr);
    const std::string qname(qualifiedName);
    const auto split = splitQualified(qualifiedName);
    const std::string& prefix = split.first;
    const std::string& local = split.second;

    xmlNsPtr ns = nullptr;
    if (!prefix.empty())
        ns = xmlSearchNs(node_->doc, node_, xmlText(prefix));
    // An unbound prefix keeps the whole qualified name as the element's name,
    // exactly as written, unless a well-known namespace can be declared.
    const bool declareHere = !prefix.empty() && !ns && [&] {
        for (const auto& known : kKnownNamespaces)
            if (prefix == known.prefix)
                return true;
        return false;
    }();
    const std::string& elementName = (ns || declareHere) ? local : qname;

    xmlNodePtr child = xmlNewDocNode(node_->doc, ns, xmlText(elementName), nullptr);
    if (declareHere) {
        for (const auto& known : kKnownNamespaces) {
            if (prefix == known.prefix) {
                xmlSetNs(child, xmlNewNs(child, reinterpret_cast<const xmlChar*>(known.uri), xmlText(prefix)));
                break;
            }
        }
    }
    appendText(child, value);
    // Blank text that was this element's whole content becomes indentation
    // once it holds an element; pretty printing then lays it out anew.
    if (holdsOnlyBlankText(node_))
        removeChildren(node_);
    xmlAddChild(node_, child);
    return XmlElement(child);
}

// ---- XmlDocument ------------------------------------------------------------

void XmlDocument::Deleter::operator()(_xmlDoc* doc) const { xmlFreeDoc(doc); }

XmlDocument::XmlDocument(_xmlDoc* doc) : doc_(doc) {}
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;
XmlDocument::~XmlDocument() = default;

Result<XmlDocument> XmlDocument::parse(std::string_view bytes) {
    if (bytes.size() > static_cast<size_t>(INT_MAX))
        return Error{ErrorDomain::xmlParser, XML_ERR_INTERNAL_ERROR,
                     "XML parse error: the file is too large (" + std::to_string(bytes.size()) + " bytes)"};
    initLibxml();

    ParserContext context = takeContext();
    if (!context)
        return Error{ErrorDomain::xmlParser, XML_ERR_NO_MEMORY, "XML parse error: out of memory"};
    ErrorCapture capture;
    context->_private = &capture;
    context->sax->serror = &onParserError;
    // The old-style callbacks would print when the structured one is absent.
    context->sax->warning = nullptr;
    context->sax->error = nullptr;
    context->vctxt.error = nullptr;
    context->vctxt.warning = nullptr;

    // No network, no DTD loading, no entity substitution, no validation; the
    // parser's built-in depth and amplification limits stay on (no HUGE).
    // The document owns its names instead of sharing the context's
    // dictionary, so it depends in nothing on the context kept for the next
    // parse (nor on the thread that parsed it).
    const int options = XML_PARSE_NONET | XML_PARSE_NODICT;
    const char* data = bytes.empty() ? "" : bytes.data();
    // Resets the context first: nothing of an earlier parse carries over.
    xmlDocPtr doc = xmlCtxtReadMemory(context.get(), data, static_cast<int>(bytes.size()), nullptr, nullptr,
                                      options);
    const bool wellFormed = context->wellFormed != 0;
    context->_private = nullptr;
    if (doc && !wellFormed) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    if (!doc) {
        Error error{ErrorDomain::xmlParser, XML_ERR_DOCUMENT_EMPTY, "XML parse error: Document is empty"};
        if (capture.haveFatal)
            error = Error{ErrorDomain::xmlParser, capture.fatalCode, capture.fatalMessage};
        else if (capture.haveError)
            error = Error{ErrorDomain::xmlParser, capture.errorCode, capture.errorMessage};
        else if (const xmlError* last = xmlCtxtGetLastError(context.get()); last && last->code != XML_ERR_OK)
            error = Error{ErrorDomain::xmlParser, last->code,
                          "XML parse error: " + fromXml(reinterpret_cast<const xmlChar*>(last->message))};
        keepContext(std::move(context));
        return error;
    }
    keepContext(std::move(context));

    XmlDocument document(doc);
    if (Status tidy = tidyTree(doc); !tidy)
        return tidy.error();
    return document;
}

std::optional<XmlElement> XmlDocument::rootElement() const {
    xmlNodePtr root = doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr;
    if (!root)
        return std::nullopt;
    return XmlElement(root);
}

std::string XmlDocument::serializePretty() const {
    if (!doc_)
        return {};
    xmlChar* memory = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc_.get(), &memory, &size, "UTF-8", 1);
    if (!memory)
        return {};
    std::string text(reinterpret_cast<const char*>(memory), static_cast<size_t>(size > 0 ? size : 0));
    xmlFree(memory);
    return text;
}

}  // namespace meridane::xmp
