// The real STL files of the shared corpus and what their manifest says of them.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

struct CorpusEntry {
    std::string file;
    std::string format;  // "ascii", "binary", or a note such as "binary+trailing1"
    uint64_t triangles;
    std::string firstLine;  // the header of a binary file, with bytes escaped as \xNN
    std::string notes;
};

inline std::string corpusPath(const std::string& file) {
    return std::string(STLV_CORPUS_DIR) + "/" + file;
}

// Empty when the corpus is not there.
inline std::vector<CorpusEntry> readCorpusManifest() {
    std::ifstream manifest(corpusPath("MANIFEST.tsv"));
    std::vector<CorpusEntry> entries;
    std::string line;
    for (std::getline(manifest, line); std::getline(manifest, line);) {  // past the column names
        std::vector<std::string> fields;
        std::stringstream columns(line);
        for (std::string field; std::getline(columns, field, '\t');) fields.push_back(field);
        if (fields.size() >= 9) entries.push_back({fields[0], fields[5], std::stoull(fields[6]), fields[7], fields[8]});
    }
    return entries;
}

inline std::string readCorpusFile(const std::string& file) {
    std::ifstream in(corpusPath(file), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
