// res2vtk: converts a result series into one time series that ParaView and every VTK reader
// open: a ParaView data collection (.pvd) naming each converted file with its time, and one VTK
// XML UnstructuredGrid file (.vtu) per result file in a folder beside it. Reads through the shared
// load path. The output is one unit: every file is written under a temporary name, and only when
// all are whole and durable are they renamed into place, the collection last; a run that fails or
// is stopped leaves the earlier output as it was.
#include "health.h"
#include "res_file.h"
#include "series_tool.h"
#include "whole_file.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
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
    "  --follow       then go on converting files of the range as they are written, rewriting\n"
    "                 FILE.pvd after each, until SIGINT or SIGTERM\n"
    "  --poll SECONDS with --follow, on file systems without events: a file is complete once\n"
    "                 unchanged for this long\n"
    "  --idle SECONDS with --follow, end after this long without a complete file\n"
    "  --             ends the options: a DIR that begins with '-' follows\n"
    "A run that fails or is stopped leaves the earlier output as it was; a second run into the\n"
    "same FILE.pvd while one is writing it is refused.\n"
    "Exit status: 0 every present file of the range converted, 1 a broken file, none present,\n"
    "an output not written or FILE.pvd busy, 2 usage error, 128 + N when stopped by signal N.\n";

struct Options {
    std::string pvd = "series.pvd";
    std::string folder = "series"; // the .pvd's name without ".pvd"
    std::string rel = "series/";   // the folder as the collection names it
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

// Why s cannot stand in an XML attribute, or nullptr when it can: XML 1.0 takes UTF-8 text
// without control characters other than tab, line feed and carriage return.
const char *xml_unfit(const std::string &s)
{
    for (std::size_t i = 0; i < s.size();) {
        auto c = (unsigned char)s[i];
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + (std::size_t)len > s.size())
            return "it is not UTF-8";
        unsigned cp = len == 1 ? c : c & (0x7fu >> len);
        for (int k = 1; k < len; ++k) {
            auto d = (unsigned char)s[i + (std::size_t)k];
            if ((d >> 6) != 2)
                return "it is not UTF-8";
            cp = cp << 6 | (d & 0x3fu);
        }
        const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return "it is not UTF-8";
        if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xfffe || cp == 0xffff)
            return "it holds a control character";
        i += (std::size_t)len;
    }
    return nullptr;
}

// Text for an XML attribute value; white space other than a space is written as a character
// reference, which a parser reads back as it was (a plain line feed would read as a space).
std::string xml_escaped(const std::string &s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

// An attribute value as a parser reads it: the entities above and numeric references undone.
std::string xml_unescaped(const std::string &s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::size_t semi = s[i] == '&' ? s.find(';', i) : std::string::npos;
        if (semi == std::string::npos) {
            out += s[i];
            continue;
        }
        std::string e = s.substr(i + 1, semi - i - 1);
        unsigned long cp = 0;
        if (e == "amp")
            out += '&';
        else if (e == "lt")
            out += '<';
        else if (e == "gt")
            out += '>';
        else if (e == "quot")
            out += '"';
        else if (e == "apos")
            out += '\'';
        else if (e.size() > 1 && e[0] == '#' &&
                 std::from_chars(e.data() + 1 + (e[1] == 'x'), e.data() + e.size(), cp,
                                 e[1] == 'x' ? 16 : 10)
                         .ec == std::errc() &&
                 cp < 0x80)
            out += (char)cp; // only ASCII is ever written as a reference
        else
            out += s.substr(i, semi - i + 1);
        i = semi;
    }
    return out;
}

// -1 when the run may go on; otherwise the exit status (0 after --help).
int parse_options(int argc, char **argv, Options *o, SeriesRun *run)
{
    std::vector<Option> opts = {
        {"-o", Takes::PATH,
         [o](const char *v) {
             std::string pvd = v;
             std::size_t n = pvd.size();
             if (n < 4 || pvd.compare(n - 4, 4, ".pvd") != 0)
                 return false;
             o->pvd = pvd;
             o->folder = pvd.substr(0, n - 4);
             return true;
         }},
        {"--dt", Takes::NUMBER, [o](const char *v) { return take_dt(v, o); }},
        {"--ascii", Takes::NOTHING,
         [o](const char *) {
             o->ascii = true;
             return true;
         }},
    };
    for (auto &r : range_options(run))
        opts.push_back(r);
    for (auto &f : follow_options(run))
        opts.push_back(f);
    int status = parse_command_line(argc, argv, run->program, USAGE, opts, &run->dir);
    if (status >= 0)
        return status;
    // The folder's own name goes into the collection: it must be a real name that XML can carry.
    std::string name = std::filesystem::path(o->folder).filename().string();
    if (name.empty() || name == "." || name == "..")
        return usage_error(run->program, USAGE,
                           "-o " + o->pvd + ": the folder beside it would be \"" + name +
                               "\"; give the collection a name before .pvd");
    if (const char *bad = xml_unfit(name))
        return usage_error(run->program, USAGE,
                           std::string("-o: the collection cannot name its folder: ") + bad);
    o->rel = name + "/";
    return start_run(run, USAGE);
}

// The arrays of one .vtu, in the order they are written.
struct Arrays {
    double points[3 * MESH_CAPACITY]; // x, y, 0: the reader's doubles unchanged
    int32_t connectivity[3 * MESH_CAPACITY];
    int32_t offsets[MESH_CAPACITY];
    uint8_t types[MESH_CAPACITY];
    int32_t node[MESH_CAPACITY];            // 1-based node numbers
    int32_t element[MESH_CAPACITY];         // 1-based element numbers
    double displacement[3 * MESH_CAPACITY]; // from the run's reference: dx, dy, 0
};

constexpr uint8_t VTK_TRIANGLE = 5;

void fill_arrays(const Mesh &m, const Health &h, Arrays *a)
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

// The whole .vtu of a mesh, in *xml. The buffers are kept from file to file: fresh ones of this
// size would cost more in page faults than the rest of the conversion.
void vtu_text(const Mesh &m, const Health &h, const std::string &time, bool ascii, std::string *out)
{
    static Arrays a;
    static std::string data;
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

// The files of the series that the collection at pvd names in the folder rel, by path: what a
// run that replaces it may remove. Names of any other shape are never touched.
std::set<std::string> named_by(const std::string &pvd, const Options &o)
{
    std::set<std::string> files;
    std::FILE *f = std::fopen(pvd.c_str(), "rb");
    if (!f)
        return files;
    std::string text;
    char buf[65536];
    for (std::size_t k; (k = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, k);
    std::fclose(f);
    for (std::size_t at = text.find("file=\""); at != std::string::npos;
         at = text.find("file=\"", at + 1)) {
        std::size_t end = text.find('"', at + 6);
        if (end == std::string::npos)
            break;
        std::string file = xml_unescaped(text.substr(at + 6, end - at - 6));
        // "FOLDER/res0NNN.vtu" and nothing else: the index read, then the name made again.
        const std::size_t r = o.rel.size();
        if (file.size() <= r + 8 || file.compare(0, r, o.rel) != 0)
            continue;
        int n = -1;
        const char *digits = file.c_str() + r + 4, *stop = file.c_str() + file.size() - 4;
        if (std::from_chars(digits, stop, n).ec == std::errc() && n >= 0 && n <= FILE_INDEX_MAX &&
            file.compare(r, std::string::npos, output_name(n, ".vtu")) == 0)
            files.insert(o.folder + "/" + file.substr(o.rel.size()));
    }
    return files;
}

// The folder of the output, locked for this run alone: a second run into the same collection
// is refused while this one writes it. -1 after saying why.
int lock_folder(const SeriesRun &run, const Options &o)
{
    int fd = open(o.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", run.program, o.folder.c_str(),
                     std::strerror(errno));
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    if (errno == EWOULDBLOCK) {
        std::fprintf(stderr, "%s: another run is writing %s and %s/; nothing written\n",
                     run.program, o.pvd.c_str(), o.folder.c_str());
        close(fd);
        return -1;
    }
    // A file system without locks (some network ones): the run goes on unguarded.
    std::fprintf(stderr,
                 "%s: cannot lock %s (%s); a second run into it at once would mix the two\n",
                 run.program, o.folder.c_str(), std::strerror(errno));
    return fd;
}

// The run's output on its way: what the collection names, and the files written for it but not
// yet in place.
struct Output {
    std::map<int, std::string> times;              // index -> time, of the files put in place
    std::vector<std::pair<int, WholeFile>> staged; // whole and closed, under temporary names
    std::string time_of_staged[FILE_INDEX_MAX + 1];
};

// The collection naming every file of out, put in place and staged, in series order.
std::string collection(const Options &o, const Output &out)
{
    std::map<int, std::string> all = out.times;
    for (const auto &s : out.staged)
        all[s.first] = out.time_of_staged[s.first];
    std::string pvd = "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" version=\"0.1\">\n"
                      "  <Collection>\n";
    for (const auto &t : all) {
        pvd += "    <DataSet timestep=\"";
        pvd += t.second;
        pvd += "\" group=\"\" part=\"0\" file=\"";
        pvd += xml_escaped(o.rel + output_name(t.first, ".vtu"));
        pvd += "\"/>\n";
    }
    return pvd + "  </Collection>\n</VTKFile>\n";
}

// Puts the staged files in place: the .vtu files, then the collection naming them, then removes
// what the collection it replaces named and this one does not. Everything is durable before the
// first rename: the staged files through one sync of the file system when sync_all, otherwise
// each was synced as it was written. False with the reason in why.
bool commit(const Options &o, Output *out, bool sync_all, std::string *why)
{
    std::set<std::string> old = named_by(o.pvd, o);
    const std::string pvd_text = collection(o, *out);
    WholeFile pvd;
    bool ok = whole_open(&pvd, o.pvd, why) &&
              whole_write(&pvd, pvd_text.data(), pvd_text.size(), why) &&
              whole_close(&pvd, !sync_all, why) && (!sync_all || sync_file_system(o.folder, why));
    for (auto &s : out->staged) {
        ok = ok && whole_rename(&s.second, why);
        if (ok)
            out->times[s.first] = out->time_of_staged[s.first];
    }
    for (const auto &t : out->times)
        old.erase(o.folder + "/" + output_name(t.first, ".vtu"));
    ok =
        ok && sync_dir(o.folder, why) && whole_rename(&pvd, why) && sync_dir(folder_of(o.pvd), why);
    whole_abandon(&pvd);
    for (auto &s : out->staged)
        whole_abandon(&s.second); // what was not renamed into place
    out->staged.clear();
    for (const auto &path : old)
        if (ok)
            unlink(path.c_str());
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    SeriesRun run;
    run.program = "res2vtk";
    run.verb = "converted";
    int status = parse_options(argc, argv, &opt, &run);
    if (status >= 0)
        return status;
    // Made here, or found: only a folder this run made may go again if the run fails.
    bool made_folder =
        make_output_dir(&run, folder_of(opt.folder)) && mkdir(opt.folder.c_str(), 0777) == 0;
    if (!made_folder && !make_output_dir(&run, opt.folder))
        return 1;
    int lock = lock_folder(run, opt);
    if (lock < 0)
        return 1; // a folder made here and locked by another run at once is that run's now
    static Output out;
    std::string vtu;
    static HealthTrack track;
    static Health health;
    // A run puts its files in place at its end, all at once; a follow, once the files present
    // are converted and then after each file, so that a reload shows the new steps.
    bool at_once = !run.follow;
    const auto step = [&](int n, const Mesh &mesh) {
        measure_health(&track, mesh, &health);
        out.time_of_staged[n] = time_of(opt, n);
        vtu_text(mesh, health, out.time_of_staged[n], opt.ascii, &vtu);
        WholeFile f;
        // A whole run is made durable at once before the renames: one sync of the file system
        // costs less than one per file.
        if (!whole_open(&f, opt.folder + "/" + output_name(n, ".vtu"), &run.failure) ||
            !whole_write(&f, vtu.data(), vtu.size(), &run.failure) ||
            !whole_close(&f, !at_once, &run.failure))
            return false;
        out.staged.emplace_back(n, f);
        ++run.written;
        return at_once || commit(opt, &out, false, &run.failure);
    };
    run_series(&run, step,
               [&] { return out.staged.empty() || commit(opt, &out, true, &run.failure); });
    bool whole = run.failure.empty() && !run.signal && run.written > 0;
    if (whole && at_once && !commit(opt, &out, true, &run.failure))
        whole = false;
    for (auto &s : out.staged)
        whole_abandon(&s.second); // what was not put in place
    if (out.times.empty() && made_folder)
        rmdir(opt.folder.c_str()); // only if it is still empty
    close(lock);
    // Converted files count once they are in place.
    run.written = (int)out.times.size();
    std::string where = "nothing written";
    if (whole)
        where = opt.pvd + " with " + opt.folder + "/";
    else if (!out.times.empty())
        where = "stopped early; " + opt.pvd + " names the " + std::to_string(run.written) +
                " files put in place before";
    else if (!run.failure.empty() || run.signal)
        where = "stopped early; " + opt.pvd + " left as it was";
    status = finish_run(&run, where);
    if (run.signal)
        end_by_signal(run.signal);
    return status;
}
