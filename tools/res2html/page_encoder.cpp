#include "tools/res2html/page_encoder.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <zlib.h>

namespace
{

std::uint32_t bits_of(float v)
{
    std::uint32_t b = 0;
    std::memcpy(&b, &v, sizeof v);
    return b;
}

// What the page predicts for a coordinate from the last files of the same mesh, h[0] the latest:
// computed in double from single-precision values and rounded once to single precision, as the
// page computes it with Math.fround. A prediction that is not a number falls back on the latest.
float predict(const std::vector<float> *h, int nh, std::size_t i)
{
    if (nh == 0)
        return 0.0f;
    const double a = h[0][i];
    if (nh == 1)
        return (float)a;
    const double b = h[1][i];
    const float p = nh == 2 ? (float)(2 * a - b) : (float)(3 * a - 3 * b + (double)h[2][i]);
    return std::isnan(p) ? (float)a : p;
}

} // namespace

std::string base64(const unsigned char *bytes, std::size_t n)
{
    static constexpr char DIGITS[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    for (std::size_t i = 0; i < n; i += 3) {
        const std::uint32_t v = (std::uint32_t)bytes[i] << 16 |
                                (i + 1 < n ? (std::uint32_t)bytes[i + 1] << 8 : 0) |
                                (i + 2 < n ? bytes[i + 2] : 0);
        out += DIGITS[v >> 18];
        out += DIGITS[(v >> 12) & 63];
        out += i + 1 < n ? DIGITS[(v >> 6) & 63] : '=';
        out += i + 2 < n ? DIGITS[v & 63] : '=';
    }
    return out;
}

PageEncoder::PageEncoder(PageCoding coding) : coding_(coding), mesh_(std::make_unique<Mesh>()) {}

PageEncoder::~PageEncoder() = default;

void PageEncoder::put_u16(unsigned v)
{
    raw_.push_back((unsigned char)(v & 0xff));
    raw_.push_back((unsigned char)(v >> 8));
}

void PageEncoder::put_mesh(const Mesh &m)
{
    put_u16((unsigned)m.np);
    put_u16((unsigned)m.nele);
    for (int e = 0; e < m.nele; ++e)
        for (int j = 0; j < 3; ++j)
            put_u16((unsigned)m.ele[e][j]);
}

void PageEncoder::put_coordinates(const Mesh &m)
{
    const std::size_t nv = 2 * (std::size_t)m.np;
    std::vector<float> now(nv);
    for (int i = 0; i < m.np; ++i) {
        now[(std::size_t)i] = (float)m.x[i]; // narrowed as the viewer narrows them
        now[(std::size_t)m.np + (std::size_t)i] = (float)m.y[i];
    }
    residual_.resize(nv);
    std::uint32_t last = 0;
    for (std::size_t i = 0; i < nv; ++i) {
        const std::uint32_t r = bits_of(now[i]) - bits_of(predict(history_, nhistory_, i));
        const auto d = (std::int32_t)(r - last);
        last = r;
        residual_[i] = (std::uint32_t)d << 1 ^ (std::uint32_t)(d >> 31); // zigzag
    }
    const std::size_t at = raw_.size();
    raw_.resize(at + 4 * nv);
    for (int plane = 0; plane < 4; ++plane)
        for (std::size_t i = 0; i < nv; ++i)
            raw_[at + (std::size_t)plane * nv + i] = (unsigned char)(residual_[i] >> (8 * plane));
    history_[2].swap(history_[1]);
    history_[1].swap(history_[0]);
    history_[0] = std::move(now);
    nhistory_ = nhistory_ < 3 ? nhistory_ + 1 : 3;
}

void PageEncoder::put_faults(const Mesh &m, const Health &h)
{
    int ninverted = 0, ndegenerate = 0;
    for (int e = 0; e < m.nele; ++e) {
        ninverted += h.inverted[e];
        ndegenerate += h.area[e] == 0.0;
    }
    put_u16((unsigned)ninverted);
    put_u16((unsigned)ndegenerate);
    for (int e = 0; e < m.nele; ++e)
        if (h.inverted[e])
            put_u16((unsigned)e);
    for (int e = 0; e < m.nele; ++e)
        if (h.area[e] == 0.0)
            put_u16((unsigned)e);
}

Status PageEncoder::add(int n, const Mesh &m, const Health &h)
{
    const bool new_mesh = !any_mesh_ || !same_connectivity(*mesh_, m);
    raw_.push_back(new_mesh ? 1 : 0);
    if (new_mesh) {
        put_mesh(m);
        *mesh_ = m;
        any_mesh_ = true;
        nhistory_ = 0;
    }
    put_coordinates(m);
    put_faults(m, h);
    files_.push_back(n);
    ++in_chunk_;
    const int size = chunks_.empty() ? coding_.first_chunk : coding_.chunk;
    return in_chunk_ == size ? close_chunk() : Status();
}

Status PageEncoder::close_chunk()
{
    if (in_chunk_ == 0)
        return Status();
    z_stream zs{};
    if (deflateInit2(&zs, coding_.level, Z_DEFLATED, 15, 9, coding_.strategy) != Z_OK)
        return Status::error("cannot compress the page's data: out of memory");
    std::vector<unsigned char> z(deflateBound(&zs, (uLong)raw_.size()));
    zs.next_in = raw_.data();
    zs.avail_in = (uInt)raw_.size();
    zs.next_out = z.data();
    zs.avail_out = (uInt)z.size();
    const int done = deflate(&zs, Z_FINISH);
    const std::size_t len = zs.total_out;
    deflateEnd(&zs);
    if (done != Z_STREAM_END)
        return Status::error("cannot compress the page's data");
    raw_total_ += raw_.size();
    deflated_total_ += len;
    chunks_.push_back(PageChunk{in_chunk_, base64(z.data(), len)});
    raw_.clear();
    in_chunk_ = 0;
    return Status();
}

Status PageEncoder::finish()
{
    return close_chunk();
}
