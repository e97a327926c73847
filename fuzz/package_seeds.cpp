#include "fuzz/package_seeds.h"

#include "tests/package_files.h"

#if STLV_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

// A raw deflate stream as zlib writes it, or stored blocks without zlib.
std::string deflated(const std::string& data, int level) {
#if STLV_HAVE_ZLIB
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
#else
    (void)level;
    return storedDeflate(data);
#endif
}

std::string inResources(const std::string& objects, const std::string& items) {
    return "<resources>" + objects + "</resources><build>" + items + "</build>";
}

// Model parts for the corners of the reader: units, meshes, components,
// colours, paths, extensions, metadata, and faults.
std::vector<std::pair<std::string, std::string>> models() {
    std::string tetra = tetrahedronObject(1);
    std::string colours = "<basematerials id=\"5\"><base name=\"r\" displaycolor=\"#FF0000\"/></basematerials>"
                          "<m:colorgroup id=\"6\"><m:color color=\"#00FF0080\"/><m:color color=\"#123\"/></m:colorgroup>";
    std::string assembly = "<object id=\"2\" name=\"a &amp; b\"><components><component objectid=\"1\" "
                           "transform=\"-1 0 0 0 1 0 0 0 1 5 0 0\"/><component objectid=\"1\" p:path=\"/3D/Objects/part.model\"/>"
                           "</components></object>";
    return {
        {"tetrahedron", modelXml(inResources(tetra, "<item objectid=\"1\"/>"))},
        {"units", modelXml(inResources(tetra, "<item objectid=\"1\" transform=\"0 1 0 -1 0 0 0 0 1 1 2 3\"/>"), "unit=\"inch\"")},
        {"colours", modelXml(inResources(colours + tetrahedronObject(1, " pid=\"5\" pindex=\"0\"", " pid=\"6\" p1=\"0\" p2=\"1\""),
                                         "<item objectid=\"1\"/>"))},
        {"assembly", modelXml(inResources(tetra + assembly, "<item objectid=\"2\"/><item objectid=\"1\"/>"))},
        {"metadata", modelXml("<metadata name=\"Title\">T &lt;1&gt;</metadata><metadata name=\"Application\"><![CDATA[A]]>"
                              "</metadata>" + inResources(tetra, "<item objectid=\"1\"/>"))},
        {"beams", modelXml(inResources("<object id=\"1\" xmlns:b=\"http://schemas.microsoft.com/3dmanufacturing/beamlattice/2017/02\">"
                                       "<mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/></vertices><b:beamlattice/></mesh></object>",
                                       "<item objectid=\"1\"/>"), "requiredextensions=\"b\" xmlns:b=\"http://schemas.microsoft.com/3dmanufacturing/beamlattice/2017/02\"")},
        {"cycle", modelXml(inResources("<object id=\"1\"><components><component objectid=\"1\"/></components></object>",
                                       "<item objectid=\"1\"/>"))},
        {"bad_index", modelXml(inResources("<object id=\"1\"><mesh><vertices><vertex x=\"1e3\" y=\"-.5\" z=\"2,5\"/></vertices>"
                                           "<triangles><triangle v1=\"0\" v2=\"0\" v3=\"1\"/></triangles></mesh></object>",
                                           "<item objectid=\"1\"/>"))},
        {"draft", "<model xmlns=\"http://schemas.microsoft.com/3dmanufacturing/2013/01\" unit=\"meter\"><resources>"
                  "<color id=\"0\" value=\"#FD080E\"/><material id=\"3\" colorid=\"0\"/>" +
                  tetrahedronObject(1, " materialid=\"3\"") + "</resources><build><item objectid=\"1\"/></build></model>"},
    };
}

}  // namespace

std::vector<std::pair<std::string, std::string>> packageSeeds() {
    std::vector<std::pair<std::string, std::string>> seeds;
    for (const auto& [name, model] : models()) {
        seeds.push_back({"model/" + name + ".model", model});
        std::string part = modelXml(inResources(tetrahedronObject(1), ""));
        std::vector<ZipMember> members = {{"[Content_Types].xml", contentTypes()},
                                          {"_rels/.rels", rootRelationships()},
                                          {"3D/3dmodel.model", model, true, deflated(model, 9)},
                                          {"3D/Objects/part.model", part, true, deflated(part, 1)}};
        seeds.push_back({"load/" + name + ".3mf", zipArchive(members)});
        seeds.push_back({"zip/" + name + ".zip", zipArchive(members)});
    }
    std::string text(3000, 'a');
    for (size_t i = 0; i < text.size(); ++i) text[i] = "<vertex x=\"1.5\"/>\n"[i * 7 % 18];
    seeds.push_back({"zip/stored.zip", zipArchive({{"a", text}, {"b/c", ""}})});
    seeds.push_back({"zip/stored_blocks.zip", zipArchive({{"a", text, true}})});
    seeds.push_back({"zip/bad_crc.zip", zipArchive({{"a", text, true, deflated(text, 6), 1}})});
    seeds.push_back({"zip/cut_stream.zip", zipArchive({{"a", text, true, deflated(text, 6).substr(0, 40)}})});
    std::string raw = deflated(text, 6);
    seeds.push_back({"zip/raw_stream", std::string{static_cast<char>(text.size() / 4 >> 8), static_cast<char>(text.size() / 4)} + raw});
    return seeds;
}

std::vector<std::string> modelDictionaryWords() {
    return {"<model", "</model>", "<resources>", "<object", "id=\"", "type=\"support\"", "<mesh>", "<vertices>",
            "<vertex", " x=\"", " y=\"", " z=\"", "<triangles>", "<triangle", " v1=\"", " v2=\"", " v3=\"", " p1=\"",
            " pid=\"", "<components>", "<component", "objectid=\"", "transform=\"", "p:path=\"", "<build>", "<item",
            "<metadata name=\"Title\">", "<basematerials", "<base displaycolor=\"#", "<m:colorgroup", "<m:color color=\"#",
            "unit=\"", "requiredextensions=\"", "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\"",
            "xmlns:p=\"http://schemas.microsoft.com/3dmanufacturing/production/2015/06\"", "&amp;", "&#x", "<![CDATA[",
            "<!--", "-->", "<?xml", "?>", "/>", "\"/>"};
}
