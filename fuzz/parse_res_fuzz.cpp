// libFuzzer target: any bytes as a result file. The parser must never read or write outside the
// Mesh, and reading the bytes from memory or from a FILE must give the same verdict and mesh.
#include "resfile/res_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

Mesh from_text;
Mesh from_file;

void check(bool cond, const char *what)
{
    if (!cond) {
        std::fprintf(stderr, "parse_res_fuzz: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ResError e1{}, e2{};
    bool ok = parse_res_text(reinterpret_cast<const char *>(data), size, &from_text, &e1);
    if (ok) {
        check(from_text.np >= 0 && from_text.np <= MESH_CAPACITY, "node count out of range");
        check(from_text.nele >= 0 && from_text.nele <= MESH_CAPACITY, "count out of range");
        for (int e = 0; e < from_text.nele; ++e)
            for (int j = 0; j < 3; ++j)
                check(from_text.ele[e][j] >= 0 && from_text.ele[e][j] < from_text.np,
                      "corner slot outside the nodes");
    } else {
        check(e1.line >= 1 && std::memchr(e1.what, '\0', sizeof e1.what), "bad error record");
    }
    if (size == 0)
        return 0;
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (!f)
        return 0;
    bool ok2 = parse_res(f, &from_file, &e2);
    std::fclose(f);
    check(ok == ok2, "memory and file readers disagree on the verdict");
    if (ok)
        check(std::memcmp(&from_text, &from_file, sizeof from_text) == 0,
              "memory and file readers disagree on the mesh");
    else
        check(e1.line == e2.line && e1.column == e2.column && std::strcmp(e1.what, e2.what) == 0,
              "memory and file readers disagree on the fault");
    return 0;
}
