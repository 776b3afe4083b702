#include "render/process_setup.h"

#include <cstdlib>
#include <malloc.h>

namespace
{

constexpr int TRIM_THRESHOLD = 64 << 20; // free memory kept at the heap's top, bytes
constexpr int SMALL_MESH = 2500;         // elements: up to this, one thread draws faster

} // namespace

void keep_heap_between_frames()
{
    mallopt(M_TRIM_THRESHOLD, TRIM_THRESHOLD);
}

void choose_rasteriser_threads(int elements)
{
    if (elements <= SMALL_MESH)
        setenv("LP_NUM_THREADS", "0", 0);
}
