// The build of a read package as the viewer's mesh: one solid per build
// item holding every mesh it places, each use of a mesh transformed on its
// own (so a mesh used twice is shown twice), in the part's heap.
#pragma once
#include "stl/stl_mesh.h"
#include "threemf/model_resources.h"

// Resolves every component and build item, refuses cycles, nesting past
// kMaxComponentDepth and builds too large to hold, then fills the mesh
// (source null: the solids own their triangles) and the solids' names.
// False after reporting; what was allocated stays in the heap for the caller.
bool buildModelMesh(ModelResources* resources, StlMesh* mesh, HeapHandle heap);
