// res2vtk: converts a result series into one time series that ParaView and every VTK reader
// open: a ParaView data collection (.pvd) naming each converted file with its time, and one VTK
// XML UnstructuredGrid file (.vtu) per result file in a folder beside it. Reads through the shared
// load path. Every file is written under a temporary name and renamed into place, the collection
// last, so a collection never names a file that is not whole.
#include "res_file.h"
#include "series_tool.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

namespace
{

const char USAGE[] =
    "usage: res2vtk [OPTIONS] [DIR]\n"
    "Converts the result series in DIR (default: the working directory) into a ParaView time\n"
    "series: FILE.pvd and one VTK XML file per result file in the folder FILE beside it.\n"
    "  -o FILE.pvd    the collection (default series.pvd): series.pvd -> series/res0001.vtu\n"
    "  --dt SECONDS   time between files (default 1): file n is at n x SECONDS\n"
    "  --first N      first index, 0..1010 (default 0)\n"
    "  --last N       last index, 0..1010 (default 1010)\n"
    "  --every K      every K-th index from the first (default 1)\n"
    "  --ascii        arrays as text instead of raw binary\n"
    "Exit status: 0 every present file of the range converted, 1 a broken file, none present\n"
    "or an output not written, 2 usage error.\n";

struct Options {
    std::string pvd = "series.pvd";
    std::string folder = "series"; // the .pvd's name without ".pvd"
    std::string dt_digits = "1";   // the time step as written: digits x 10^dt_exp seconds
    long dt_exp = 0;
    bool ascii = false;
};

// Splits a decimal that parse_number accepted into its digits and decimal exponent, so that file
// n's time can be formed exactly before it is rounded once.
bool take_dt(const char *s, Options *o)
{
    double dt = 0;
    if (!parse_number(s, &dt) || dt <= 0 || !(dt * FILE_INDEX_MAX < 1e308))
        return false;
    std::string digits;
    long frac = 0;
    const char *p = s + (*s == '+');
    for (bool point = false; *p && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            point = true;
        } else {
            digits += *p;
            frac += point;
        }
    }
    long exp = 0;
    if (*p && std::from_chars(p + 1 + (p[1] == '+'), p + std::strlen(p), exp).ec != std::errc())
        return false;
    o->dt_digits = digits;
    o->dt_exp = exp - frac;
    return true;
}

// The time of file n, n x dt, as the shortest text that reads back as the double nearest it.
std::string time_of(const Options &o, int n)
{
    // The digits times n, exactly, then rounded once by from_chars.
    std::string product(o.dt_digits.size() + 5, '0');
    unsigned carry = 0;
    std::size_t k = product.size();
    for (std::size_t i = o.dt_digits.size(); i-- > 0;) {
        unsigned d = (unsigned)(o.dt_digits[i] - '0') * (unsigned)n + carry;
        product[--k] = (char)('0' + d % 10);
        carry = d / 10;
    }
    for (; carry > 0; carry /= 10)
        product[--k] = (char)('0' + carry % 10);
    product += "e" + std::to_string(o.dt_exp);
    double t = 0;
    std::from_chars(product.data(), product.data() + product.size(), t);
    char out[32];
    return std::string(out, std::to_chars(out, out + sizeof out, t).ptr);
}

// -1 when the run may go on; otherwise the exit status (0 after --help).
int parse_options(int argc, char **argv, Options *o, SeriesRun *run)
{
    std::vector<Option> opts = {
        {"-o", true,
         [o](const char *v) {
             // A name ending in .pvd, with something before it.
             std::string pvd = v;
             std::size_t n = pvd.size();
             if (n <= 4 || pvd.compare(n - 4, 4, ".pvd") != 0 || pvd[n - 5] == '/')
                 return false;
             o->pvd = pvd;
             o->folder = pvd.substr(0, n - 4);
             return true;
         }},
        {"--dt", true, [o](const char *v) { return take_dt(v, o); }},
        {"--ascii", false,
         [o](const char *) {
             o->ascii = true;
             return true;
         }},
    };
    for (auto &r : range_options(run))
        opts.push_back(r);
    int status = parse_command_line(argc, argv, run->program, USAGE, opts, &run->dir);
    return status < 0 ? start_run(run, USAGE) : status;
}

// Writes text to path through a temporary file renamed into place; false with the reason in why.
bool write_whole(const std::string &path, const std::string &text, std::string *why)
{
    std::string tmp = path + ".tmp";
    std::FILE *f = std::fopen(tmp.c_str(), "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = f && std::fclose(f) == 0 && ok;
    if (ok && std::rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    *why = "cannot write " + path + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
}

// Text for an XML attribute value.
std::string xml_escaped(const std::string &s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// The arrays of one .vtu, in the order they are written.
struct Arrays {
    double points[3 * MESH_CAPACITY]; // x, y, 0: the reader's doubles unchanged
    int32_t connectivity[3 * MESH_CAPACITY];
    int32_t offsets[MESH_CAPACITY];
    uint8_t types[MESH_CAPACITY];
    int32_t node[MESH_CAPACITY];    // 1-based node numbers
    int32_t element[MESH_CAPACITY]; // 1-based element numbers
};

constexpr uint8_t VTK_TRIANGLE = 5;

void fill_arrays(const Mesh &m, Arrays *a)
{
    for (int i = 0; i < m.np; ++i) {
        double *p = &a->points[3 * (std::size_t)i];
        p[0] = m.x[i];
        p[1] = m.y[i];
        p[2] = 0.0;
        a->node[i] = i + 1;
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

// The whole .vtu of a mesh, in *xml. The buffers are kept from file to file: fresh ones of this
// size would cost more in page faults than the rest of the conversion.
void vtu_text(const Mesh &m, bool ascii, std::string *out)
{
    static Arrays a;
    static std::string data;
    fill_arrays(m, &a);
    const uint16_t probe = 1;
    const bool little = *reinterpret_cast<const unsigned char *>(&probe) == 1;
    std::string &xml = *out;
    xml.clear();
    data.clear();
    xml += "<?xml version=\"1.0\"?>\n<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" "
           "byte_order=\"";
    xml += little ? "LittleEndian" : "BigEndian";
    xml += "\" header_type=\"UInt64\">\n  <UnstructuredGrid>\n    <Piece NumberOfPoints=\"" +
           std::to_string(m.np) + "\" NumberOfCells=\"" + std::to_string(m.nele) + "\">\n";
    const char *in = "        ";
    xml += "      <PointData Scalars=\"node\">\n";
    put_array(&xml, &data, ascii, "Int32", "node", 1, a.node, m.np, in);
    xml += "      </PointData>\n      <CellData Scalars=\"element\">\n";
    put_array(&xml, &data, ascii, "Int32", "element", 1, a.element, m.nele, in);
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

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    SeriesRun run;
    run.program = "res2vtk";
    int status = parse_options(argc, argv, &opt, &run);
    if (status >= 0)
        return status;
    if (!make_output_dir(&run, opt.folder))
        return 1;
    // The .vtu files are named relative to the .pvd, so that the two move together.
    const std::string rel = std::filesystem::path(opt.folder).filename().string() + "/";
    std::string pvd = "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" version=\"0.1\">\n"
                      "  <Collection>\n";
    static Mesh mesh;
    static bool written[FILE_INDEX_MAX + 1];
    std::string vtu;
    std::string why;
    bool failed = false;
    for (int n = run.first; n <= run.last && !failed; n += run.every) {
        if (load_next(&run, n, &mesh)) {
            const std::string name = output_name(n, ".vtu");
            vtu_text(mesh, opt.ascii, &vtu);
            failed = !write_whole(opt.folder + "/" + name, vtu, &why);
            if (!failed) {
                written[n] = true;
                ++run.written;
                pvd += "    <DataSet timestep=\"" + time_of(opt, n) + "\" group=\"\" part=\"0\" " +
                       "file=\"" + xml_escaped(rel + name) + "\"/>\n";
            }
        }
        show_progress(&run, n);
    }
    pvd += "  </Collection>\n</VTKFile>\n";
    if (!failed && run.written > 0) {
        failed = !write_whole(opt.pvd, pvd, &why);
        // The collection now names this run's files alone: an earlier run's others go, and what
        // an interrupted run left half written.
        std::error_code ec;
        for (int n = 0; !failed && n <= FILE_INDEX_MAX; ++n) {
            std::string path = opt.folder + "/" + output_name(n, ".vtu");
            if (!written[n])
                std::filesystem::remove(path, ec);
            std::filesystem::remove(path + ".tmp", ec);
        }
    }
    std::string where = "nothing written";
    if (!failed && run.written > 0)
        where = opt.pvd + " with " + opt.folder + "/";
    else if (failed)
        where = "stopped early; " + opt.pvd + " left as it was";
    return finish_run(&run, "converted", failed ? why.c_str() : nullptr, where);
}
