// 3MF files: a ZIP package whose relationships name a model part of XML.
// The build becomes the viewer's mesh: one solid per build item, named by
// its object, every use of a mesh placed by its transforms, colours from
// base materials and colour groups as binary STL triangle colours (RGB).
// Nothing of it points into the file or the inflated XML.
#pragma once
#include "stl/stl_mesh.h"

// Fills mesh, metadata (unit, Z up, colour order, the title as model name)
// and *facts, all in the heap; reports what it ignores and why it refuses.
// False after reporting: nothing of the file is to be shown, and the heap
// may hold blocks for the caller to destroy with it.
bool read3mfPackage(StlMesh* mesh, StlMetadata* metadata, PackageFacts** facts, const uint8_t* file, uint64_t size,
                    HeapHandle heap, const MessageSink* sink);
