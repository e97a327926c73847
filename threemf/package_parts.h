// The package around the model: _rels/.rels names the root model part,
// [Content_Types].xml is read for what it is worth (a wrong one only warns).
#pragma once
#include "threemf/model_resources.h"
#include "package/xml_reader.h"

// Reads a whole entry; null after reporting.
const uint8_t* readPart(ModelResources* resources, const ZipEntry* entry);

// A reader over a whole part, in the scratch heap; null after reporting.
XmlReader* startPartReader(ModelResources* resources, const uint8_t* xml, uint64_t size,
                           const char* const* spaces, uint32_t spaceCount);
// "3MF error: PART, line N: " and what is wrong with the XML.
void reportXmlFault(const ModelResources* resources, uint32_t part, const XmlReader* reader);

// The root model part's entry as the package's relationships name it, added
// as part 0; false after reporting.
bool findRootModel(ModelResources* resources);
