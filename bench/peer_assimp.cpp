// assimp's STL import through its C interface, without post-processing.
#include <assimp/cimport.h>
#include <assimp/scene.h>

#include "bench/bench_timing.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    return timeLoads([&]() -> long long {
        const aiScene* scene = aiImportFile(argv[1], 0);
        if (!scene) return -1;
        long long triangles = 0;
        for (unsigned i = 0; i < scene->mNumMeshes; ++i) triangles += scene->mMeshes[i]->mNumFaces;
        aiReleaseImport(scene);
        return triangles;
    });
}
