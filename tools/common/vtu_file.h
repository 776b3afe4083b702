// One result file as a VTK XML UnstructuredGrid (.vtu): the mesh's points and triangles, each
// node's and element's number, and its health (displacement, area, quality, inverted) as fields.
#pragma once

#include "resfile/health.h"

#include <memory>
#include <string>
#include <vector>

// A field of each node beside the mesh's own, as point data: components values a node.
struct NodeField {
    const char *name;
    int components;
    const double *values; // components x np
};

class VtuWriter
{
  public:
    VtuWriter();
    ~VtuWriter();
    VtuWriter(const VtuWriter &) = delete;
    VtuWriter &operator=(const VtuWriter &) = delete;

    // The whole .vtu of mesh m measured as h, at `time` (as text), with the node fields more
    // after its own, into *out: the arrays as text when ascii, else raw binary in the appended
    // data.
    void text(const Mesh &m, const Health &h, const std::string &time, bool ascii, std::string *out,
              const std::vector<NodeField> &more = {});

    struct Arrays; // the arrays of one file

  private:
    // Kept from file to file: fresh buffers of this size would cost more in page faults than the
    // rest of the conversion.
    std::unique_ptr<Arrays> arrays_;
    std::string data_; // the appended data
};
