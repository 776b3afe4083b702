// Shared by the benchmarks: a scratch directory holding a max-size result file, and a count of
// heap allocations made by the process.
#pragma once

#include <cstddef>
#include <string>

// Makes a scratch directory with res0001.inp holding the largest mesh a file may hold
// (4999 nodes, 4999 triangles, coordinates written like %.6e) and returns its path.
std::string make_max_size_dir();

// Heap allocations (malloc, calloc, realloc, operator new) since the process started.
std::size_t heap_allocations();
