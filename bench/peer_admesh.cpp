// admesh's reader (libadmesh): stl_open reads the facets and their statistics.
#include <admesh/stl.h>

#include <cstring>

#include "bench/bench_timing.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    return timeLoads([&]() -> long long {
        stl_file stl;
        memset(&stl, 0, sizeof stl);
        stl_open(&stl, argv[1]);
        long long triangles = stl_get_error(&stl) ? -1 : stl.stats.number_of_facets;
        stl_close(&stl);
        return triangles;
    });
}
