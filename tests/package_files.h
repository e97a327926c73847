// Building ZIP archives and 3MF packages for tests: entries stored, or
// deflated as stored deflate blocks (no compressor needed), with the
// headers a writer would give them unless a test makes them lie.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "package/crc32.h"

struct ZipMember {
    std::string name;
    std::string data;
    bool deflate = false;      // as deflate stored blocks
    std::string stream;        // when not empty: the deflate stream to store as given (method 8)
    uint32_t crcXor = 0;       // a lying CRC
    int64_t sizeDelta = 0;     // a lying uncompressed size in the central directory
};

inline void put16(std::string* out, uint32_t value) {
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>(value >> 8 & 0xFF));
}

inline void put32(std::string* out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

inline void put64(std::string* out, uint64_t value) {
    put32(out, static_cast<uint32_t>(value));
    put32(out, static_cast<uint32_t>(value >> 32));
}

// Deflate stored blocks of at most 65535 bytes; the last one final.
inline std::string storedDeflate(const std::string& data) {
    std::string out;
    size_t at = 0;
    do {
        size_t length = data.size() - at < 65535 ? data.size() - at : 65535;
        out.push_back(at + length == data.size() ? 1 : 0);
        put16(&out, static_cast<uint32_t>(length));
        put16(&out, static_cast<uint32_t>(~length & 0xFFFF));
        out.append(data, at, length);
        at += length;
    } while (at < data.size());
    return out;
}

inline uint32_t crcOf(const std::string& data) {
    return updateCrc32(0, reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

// An archive of the members, in order.
inline std::string zipArchive(const std::vector<ZipMember>& members) {
    std::string file, directory;
    for (const ZipMember& member : members) {
        bool deflated = member.deflate || !member.stream.empty();
        std::string stored = !member.stream.empty() ? member.stream : member.deflate ? storedDeflate(member.data) : member.data;
        uint32_t crc = crcOf(member.data) ^ member.crcXor;
        uint32_t size = static_cast<uint32_t>(member.data.size() + member.sizeDelta);
        uint32_t offset = static_cast<uint32_t>(file.size());
        put32(&file, 0x04034b50);
        put16(&file, 20);
        put16(&file, 0);
        put16(&file, deflated ? 8 : 0);
        put32(&file, 0);
        put32(&file, crc);
        put32(&file, static_cast<uint32_t>(stored.size()));
        put32(&file, size);
        put16(&file, static_cast<uint32_t>(member.name.size()));
        put16(&file, 0);
        file += member.name + stored;
        put32(&directory, 0x02014b50);
        put16(&directory, 20);
        put16(&directory, 20);
        put16(&directory, 0);
        put16(&directory, deflated ? 8 : 0);
        put32(&directory, 0);
        put32(&directory, crc);
        put32(&directory, static_cast<uint32_t>(stored.size()));
        put32(&directory, size);
        put16(&directory, static_cast<uint32_t>(member.name.size()));
        put32(&directory, 0);  // extra and comment lengths
        put32(&directory, 0);  // disk, internal attributes
        put32(&directory, 0);  // external attributes
        put32(&directory, offset);
        directory += member.name;
    }
    uint32_t directoryOffset = static_cast<uint32_t>(file.size());
    file += directory;
    put32(&file, 0x06054b50);
    put32(&file, 0);
    put16(&file, static_cast<uint32_t>(members.size()));
    put16(&file, static_cast<uint32_t>(members.size()));
    put32(&file, static_cast<uint32_t>(directory.size()));
    put32(&file, directoryOffset);
    put16(&file, 0);
    return file;
}

inline const char* kCoreSpace = "http://schemas.microsoft.com/3dmanufacturing/core/2015/02";

inline std::string contentTypes() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
           "<Default Extension=\"model\" ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>"
           "</Types>";
}

inline std::string rootRelationships(const std::string& target = "/3D/3dmodel.model") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Target=\"" + target + "\" Id=\"rel0\" "
           "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/></Relationships>";
}

// A model element around the given body, with the material and production namespaces.
inline std::string modelXml(const std::string& body, const std::string& attributes = "unit=\"millimeter\"") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model " + attributes + " xmlns=\"" + kCoreSpace +
           "\" xmlns:m=\"http://schemas.microsoft.com/3dmanufacturing/material/2015/02\""
           " xmlns:p=\"http://schemas.microsoft.com/3dmanufacturing/production/2015/06\">\n" + body + "\n</model>\n";
}

// A tetrahedron of side `size` at the origin, outward, as object `id`.
inline std::string tetrahedronObject(int id, const std::string& attributes = "", const std::string& triangleExtra = "",
                                     double size = 10) {
    std::string s = std::to_string(size);
    return "<object id=\"" + std::to_string(id) + "\" type=\"model\"" + attributes + "><mesh><vertices>"
           "<vertex x=\"0\" y=\"0\" z=\"0\"/><vertex x=\"" + s + "\" y=\"0\" z=\"0\"/>"
           "<vertex x=\"0\" y=\"" + s + "\" z=\"0\"/><vertex x=\"0\" y=\"0\" z=\"" + s + "\"/></vertices><triangles>"
           "<triangle v1=\"0\" v2=\"2\" v3=\"1\"" + triangleExtra + "/><triangle v1=\"0\" v2=\"1\" v3=\"3\"/>"
           "<triangle v1=\"0\" v2=\"3\" v3=\"2\"/><triangle v1=\"1\" v2=\"2\" v3=\"3\"/></triangles></mesh></object>";
}

// A whole package: content types, relationships, the model, and more parts.
inline std::string package3mf(const std::string& model, std::vector<ZipMember> more = {}, bool deflate = true) {
    std::vector<ZipMember> members = {{"[Content_Types].xml", contentTypes()},
                                      {"_rels/.rels", rootRelationships()},
                                      {"3D/3dmodel.model", model, deflate}};
    for (ZipMember& member : more) members.push_back(member);
    return zipArchive(members);
}

// A red cube of side 10 centred on the origin, outward, named, written by
// "TestCAD 1.0": how a program would save one coloured object.
inline std::string redCube3mf() {
    const char* corners[8] = {"-5\" y=\"-5\" z=\"-5", "5\" y=\"-5\" z=\"-5", "5\" y=\"5\" z=\"-5", "-5\" y=\"5\" z=\"-5",
                              "-5\" y=\"-5\" z=\"5",  "5\" y=\"-5\" z=\"5",  "5\" y=\"5\" z=\"5",  "-5\" y=\"5\" z=\"5"};
    const int faces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {2, 3, 7, 6}, {1, 2, 6, 5}, {3, 0, 4, 7}};
    std::string body = "<metadata name=\"Application\">TestCAD 1.0</metadata><resources><basematerials id=\"1\">"
                       "<base name=\"red\" displaycolor=\"#FF0000\"/></basematerials>"
                       "<object id=\"2\" type=\"model\" name=\"Red cube\" pid=\"1\" pindex=\"0\"><mesh><vertices>";
    for (const char* corner : corners) body += std::string("<vertex x=\"") + corner + "\"/>";
    body += "</vertices><triangles>";
    for (const auto& f : faces)
        for (int half = 0; half < 2; ++half)
            body += "<triangle v1=\"" + std::to_string(f[0]) + "\" v2=\"" + std::to_string(f[1 + half]) + "\" v3=\"" +
                    std::to_string(f[2 + half]) + "\"/>";
    body += "</triangles></mesh></object></resources><build><item objectid=\"2\"/></build>";
    return package3mf(modelXml(body));
}
