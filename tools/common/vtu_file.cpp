#include "tools/common/vtu_file.h"

#include <charconv>
#include <cstdint>
#include <type_traits>

// The arrays of one .vtu, in the order they are written.
struct VtuWriter::Arrays {
    double points[3 * MESH_CAPACITY]; // x, y, 0: the reader's doubles unchanged
    int32_t connectivity[3 * MESH_CAPACITY];
    int32_t offsets[MESH_CAPACITY];
    uint8_t types[MESH_CAPACITY];
    int32_t node[MESH_CAPACITY];            // 1-based node numbers
    int32_t element[MESH_CAPACITY];         // 1-based element numbers
    double displacement[3 * MESH_CAPACITY]; // from the run's reference: dx, dy, 0
};

namespace
{

constexpr uint8_t VTK_TRIANGLE = 5;

void fill_arrays(const Mesh &m, const Health &h, VtuWriter::Arrays *a)
{
    for (int i = 0; i < m.np; ++i) {
        double *p = &a->points[3 * (std::size_t)i];
        p[0] = m.x[i];
        p[1] = m.y[i];
        p[2] = 0.0;
        a->node[i] = i + 1;
        double *u = &a->displacement[3 * (std::size_t)i];
        u[0] = h.ux[i];
        u[1] = h.uy[i];
        u[2] = 0.0;
    }
    for (int e = 0; e < m.nele; ++e) {
        for (int j = 0; j < 3; ++j)
            a->connectivity[3 * (std::size_t)e + (std::size_t)j] = m.ele[e][j]; // file's order
        a->offsets[e] = 3 * (e + 1);
        a->types[e] = VTK_TRIANGLE;
        a->element[e] = e + 1;
    }
}

void put_number(std::string *out, double v)
{
    char buf[32];
    out->append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

void put_number(std::string *out, long v)
{
    char buf[24];
    out->append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// One DataArray: its header in the XML, and its values as text (ascii) or as a raw block with a
// 64-bit byte count in the appended data.
template <typename T>
void put_array(std::string *xml, std::string *appended, bool ascii, const char *type,
               const char *name, int ncomp, const T *v, int n, const char *indent)
{
    *xml += indent;
    *xml += "<DataArray type=\"";
    *xml += type;
    *xml += "\" Name=\"";
    *xml += name;
    *xml += "\"";
    if (ncomp > 1)
        *xml += " NumberOfComponents=\"" + std::to_string(ncomp) + "\"";
    if (!ascii) {
        *xml += " format=\"appended\" offset=\"" + std::to_string(appended->size()) + "\"/>\n";
        uint64_t bytes = sizeof(T) * (uint64_t)n;
        appended->append(reinterpret_cast<const char *>(&bytes), sizeof bytes);
        appended->append(reinterpret_cast<const char *>(v), (std::size_t)bytes);
        return;
    }
    *xml += " format=\"ascii\">\n";
    for (int i = 0; i < n; ++i) {
        *xml += i % ncomp ? " " : i ? "\n" : "";
        if constexpr (std::is_floating_point_v<T>)
            put_number(xml, v[i]);
        else
            put_number(xml, (long)v[i]);
    }
    *xml += "\n";
    *xml += indent;
    *xml += "</DataArray>\n";
}

} // namespace

VtuWriter::VtuWriter() : arrays_(std::make_unique<Arrays>()) {}

VtuWriter::~VtuWriter() = default;

void VtuWriter::text(const Mesh &m, const Health &h, const std::string &time, bool ascii,
                     std::string *out, const std::vector<NodeField> &more)
{
    Arrays &a = *arrays_;
    std::string &data = data_;
    fill_arrays(m, h, &a);
    const uint16_t probe = 1;
    const bool little = *reinterpret_cast<const unsigned char *>(&probe) == 1;
    std::string &xml = *out;
    xml.clear();
    data.clear();
    xml += "<?xml version=\"1.0\"?>\n<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" "
           "byte_order=\"";
    xml += little ? "LittleEndian" : "BigEndian";
    // The time, so that a file opened alone knows it.
    xml += "\" header_type=\"UInt64\">\n  <UnstructuredGrid>\n    <FieldData>\n"
           "      <DataArray type=\"Float64\" Name=\"TimeValue\" NumberOfTuples=\"1\" "
           "format=\"ascii\">" +
           time + "</DataArray>\n    </FieldData>\n    <Piece NumberOfPoints=\"" +
           std::to_string(m.np) + "\" NumberOfCells=\"" + std::to_string(m.nele) + "\">\n";
    const char *in = "        ";
    xml += "      <PointData Scalars=\"node\">\n";
    put_array(&xml, &data, ascii, "Int32", "node", 1, a.node, m.np, in);
    put_array(&xml, &data, ascii, "Float64", "displacement", 3, a.displacement, 3 * m.np, in);
    for (const auto &f : more)
        put_array(&xml, &data, ascii, "Float64", f.name, f.components, f.values,
                  f.components * m.np, in);
    xml += "      </PointData>\n      <CellData Scalars=\"element\">\n";
    put_array(&xml, &data, ascii, "Int32", "element", 1, a.element, m.nele, in);
    put_array(&xml, &data, ascii, "Float64", "area", 1, h.area, m.nele, in);
    put_array(&xml, &data, ascii, "Float64", "quality", 1, h.quality, m.nele, in);
    put_array(&xml, &data, ascii, "UInt8", "inverted", 1, h.inverted, m.nele, in);
    xml += "      </CellData>\n      <Points>\n";
    put_array(&xml, &data, ascii, "Float64", "Points", 3, a.points, 3 * m.np, in);
    xml += "      </Points>\n      <Cells>\n";
    put_array(&xml, &data, ascii, "Int32", "connectivity", 1, a.connectivity, 3 * m.nele, in);
    put_array(&xml, &data, ascii, "Int32", "offsets", 1, a.offsets, m.nele, in);
    put_array(&xml, &data, ascii, "UInt8", "types", 1, a.types, m.nele, in);
    xml += "      </Cells>\n    </Piece>\n  </UnstructuredGrid>\n";
    if (!ascii) {
        // The raw bytes follow the underscore; a line feed ends them.
        xml += "  <AppendedData encoding=\"raw\">\n   _";
        xml += data;
        xml += "\n  </AppendedData>\n";
    }
    xml += "</VTKFile>\n";
}
