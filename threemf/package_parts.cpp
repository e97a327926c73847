#include "threemf/package_parts.h"

#include <cstring>

#include "core/text_lines.h"

namespace {

const char kRelationshipsSpace[] = "http://schemas.openxmlformats.org/package/2006/relationships";
const char kContentTypesSpace[] = "http://schemas.openxmlformats.org/package/2006/content-types";
const char kModelRelationship[] = "http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel";
const char kModelContentType[] = "application/vnd.ms-package.3dmanufacturing-3dmodel+xml";
const char kPackageRelationships[] = "_rels/.rels";
const char kContentTypes[] = "[Content_Types].xml";

bool sameText(XmlSpan span, const char* text, bool ignoreCase) {
    size_t length = strlen(text);
    if (span.length != length) return false;
    for (size_t i = 0; i < length; ++i) {
        uint8_t a = span.bytes[i], b = static_cast<uint8_t>(text[i]);
        if (ignoreCase && a >= 'A' && a <= 'Z') a |= 0x20;
        if (ignoreCase && b >= 'A' && b <= 'Z') b |= 0x20;
        if (a != b) return false;
    }
    return true;
}

// Content types compare without case; parameters after ";" do not matter here.
bool isModelType(XmlSpan type) {
    for (uint32_t i = 0; i < type.length; ++i)
        if (type.bytes[i] == ';') type.length = i;
    while (type.length && type.bytes[type.length - 1] == ' ') --type.length;
    return sameText(type, kModelContentType, true);
}

const ZipEntry* findEntry(const ModelResources* resources, const char* name) {
    return findZipEntry(resources->archive, name, static_cast<uint32_t>(strlen(name)));
}

void reportPackage(const ModelResources* resources, StatusCode code, CountedText part = CountedText{nullptr, 0, 0}) {
    if (!resources->sink) return;
    PackageNote note{};
    note.part = part;
    report(resources->sink, code, reinterpret_cast<uintptr_t>(&note));
}

bool addPart(ModelResources* resources, const ZipEntry* entry) {
    ModelPartText* part = static_cast<ModelPartText*>(
        appendElement(&resources->parts, sizeof(ModelPartText), resources->scratch, resources->sink));
    if (!part) return false;
    *part = ModelPartText{entry, nullptr, 0, false};
    return true;
}

// Whether [Content_Types].xml gives the part the 3D model type, by its
// name or its extension.
bool declaresModelType(ModelResources* resources, const ZipEntry* model) {
    const ZipEntry* entry = findEntry(resources, kContentTypes);
    if (!entry) return false;
    const uint8_t* xml = readPart(resources, entry);
    if (!xml) return false;
    const char* const spaces[] = {kContentTypesSpace};
    XmlReader* reader = startPartReader(resources, xml, entry->uncompressedSize, spaces, 1);
    if (!reader) return false;
    const uint8_t* dot = nullptr;
    for (uint32_t i = 0; i < model->nameLength; ++i)
        if (model->name[i] == '.') dot = model->name + i + 1;
    XmlSpan extension = dot ? XmlSpan{dot, static_cast<uint32_t>(model->name + model->nameLength - dot)} : XmlSpan{};
    bool byExtension = false, byName = false, overridden = false;
    for (XmlEvent event; (event = nextXmlEvent(reader)) != kXmlDocumentEnd;) {
        if (event == kXmlFailed) return false;
        if (event != kXmlStart || reader->space != 0) continue;
        const XmlAttribute* type = findXmlAttribute(reader, kXmlNoSpace, "ContentType");
        if (!type) continue;
        if (xmlSpanIs(reader->local, "Default")) {
            const XmlAttribute* name = findXmlAttribute(reader, kXmlNoSpace, "Extension");
            if (name && dot && name->value.length == extension.length) {
                bool same = true;
                for (uint32_t i = 0; same && i < extension.length; ++i)
                    same = (name->value.bytes[i] | 0x20) == (extension.bytes[i] | 0x20);
                if (same) byExtension = isModelType(type->value);
            }
        } else if (xmlSpanIs(reader->local, "Override")) {
            const XmlAttribute* name = findXmlAttribute(reader, kXmlNoSpace, "PartName");
            if (name && findZipEntry(resources->archive, reinterpret_cast<const char*>(name->value.bytes),
                                     name->value.length) == model) {
                overridden = true;
                byName = isModelType(type->value);
            }
        }
    }
    return overridden ? byName : byExtension;
}

}  // namespace

void* appendElement(GrowBuffer* buffer, uint64_t elementSize, HeapHandle heap, const MessageSink* sink) {
    uint64_t needed = buffer->used + elementSize;
    if (needed > buffer->capacity && !growBuffer(buffer, needed, heap, sink)) return nullptr;
    void* element = static_cast<uint8_t*>(buffer->data) + buffer->used;
    buffer->used = needed;
    return element;
}

void reportPartNote(const ModelResources* resources, uint32_t part, const uint8_t* at, StatusCode code,
                    uint64_t number, uint64_t limit, CountedText detail) {
    const ModelPartText* text = partText(resources, part);
    uint64_t line = at && text->xml ? lineOfOffset(text->xml, text->size, static_cast<uint64_t>(at - text->xml)) : 0;
    reportPartLine(resources, part, line, code, number, limit, detail);
}

void reportPartLine(const ModelResources* resources, uint32_t part, uint64_t line, StatusCode code,
                    uint64_t number, uint64_t limit, CountedText detail) {
    if (!resources->sink) return;
    PackageNote note{};
    const ModelPartText* text = partText(resources, part);
    if (text->entry) note.part = entryName(text->entry);
    note.line = line;
    note.detail = detail;
    note.number = number;
    note.limit = limit;
    report(resources->sink, code, reinterpret_cast<uintptr_t>(&note));
}

const uint8_t* readPart(ModelResources* resources, const ZipEntry* entry) {
    return readZipEntry(resources->archive, entry, resources->scratch, &resources->budget, resources->sink);
}

XmlReader* startPartReader(ModelResources* resources, const uint8_t* xml, uint64_t size,
                           const char* const* spaces, uint32_t spaceCount) {
    XmlReader* reader =
        static_cast<XmlReader*>(allocArray(resources->scratch, 1, sizeof(XmlReader), resources->sink));
    if (reader) initXmlReader(reader, xml, xml + size, true, spaces, spaceCount);
    return reader;
}

void reportXmlFault(const ModelResources* resources, uint32_t part, const XmlReader* reader) {
    reportPartNote(resources, part, reader->begin + reader->faultOffset, kErr3mfXml, reader->fault);
}

bool findRootModel(ModelResources* resources) {
    const ZipEntry* relationships = findEntry(resources, kPackageRelationships);
    if (!relationships) return reportPackage(resources, kErr3mfNoModel), false;
    if (!addPart(resources, relationships)) return false;  // part 0 until the root is known, for messages
    const uint8_t* xml = readPart(resources, relationships);
    if (!xml) return false;
    ModelPartText* part = partText(resources, 0);
    part->xml = xml;
    part->size = relationships->uncompressedSize;
    const char* const spaces[] = {kRelationshipsSpace};
    XmlReader* reader = startPartReader(resources, xml, part->size, spaces, 1);
    if (!reader) return false;
    XmlSpan target{};
    uint64_t models = 0;
    for (XmlEvent event; (event = nextXmlEvent(reader)) != kXmlDocumentEnd;) {
        if (event == kXmlFailed) return reportXmlFault(resources, 0, reader), false;
        if (event != kXmlStart || reader->space != 0 || !xmlSpanIs(reader->local, "Relationship")) continue;
        const XmlAttribute* type = findXmlAttribute(reader, kXmlNoSpace, "Type");
        const XmlAttribute* where = findXmlAttribute(reader, kXmlNoSpace, "Target");
        if (!type || !where || !xmlSpanIs(type->value, kModelRelationship)) continue;
        if (models++ == 0) target = where->value;
    }
    if (models == 0) return reportPartNote(resources, 0, nullptr, kErr3mfNoModel), false;
    if (models > 1) reportPartNote(resources, 0, nullptr, kWarn3mfModelRelationships, models);
    const ZipEntry* model = findZipEntry(resources->archive, reinterpret_cast<const char*>(target.bytes), target.length);
    if (!model) {
        reportPackage(resources, kErr3mfMissingPart, CountedText{reinterpret_cast<const char*>(target.bytes), target.length, 65001});
        return false;
    }
    *partText(resources, 0) = ModelPartText{model, nullptr, 0, false};
    heapFree(resources->scratch, reader);
    if (!declaresModelType(resources, model)) reportPackage(resources, kWarn3mfContentTypes);
    return true;
}
