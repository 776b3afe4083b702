// A series as the web page holds it: each well-formed file's coordinates as the single-precision
// floats the viewer hands to OpenGL, its connectivity once for as long as it stays the same, and
// its inverted and degenerate elements, in records compressed a chunk of files at a time, which
// the page inflates with DecompressionStream as it goes.
//
// A file's record: a byte saying whether a new mesh starts; for a new mesh, its node and element
// counts (u16) and each element's three corner slots (u16); then its coordinates, all x, then all
// y, each as the difference of its bits from a prediction out of the last files of the same
// mesh (none, the last, a straight line through two, a parabola through three), the differences
// taken again from one coordinate to the next, zigzag coded, and laid out in four planes of bytes,
// the lowest first; then the counts of inverted and degenerate elements (u16) and their slots
// (u16). Numbers are little-endian.
#pragma once

#include "resfile/health.h"
#include "util/status.h"

#include <memory>
#include <string>
#include <vector>

// How the records are packed. Chosen by measurement on the sample and max-size series (the page
// benchmark prints the candidates): the residuals are small numbers in few byte values, which
// deflate's runs-only strategy codes nearly as small as its full search, four times as fast.
struct PageCoding {
    int level = 6;       // deflate's
    int strategy = 3;    // zlib's Z_RLE
    int first_chunk = 2; // files in the first chunk, which the page draws from at once
    int chunk = 32;      // files in each later chunk
};

// One chunk: how many files it holds and its compressed bytes as base64 (zlib's format).
struct PageChunk {
    int files = 0;
    std::string base64;
};

class PageEncoder
{
  public:
    explicit PageEncoder(PageCoding coding = {});
    ~PageEncoder();
    PageEncoder(const PageEncoder &) = delete;
    PageEncoder &operator=(const PageEncoder &) = delete;

    // Adds file n with its mesh m and health h; files come in series order.
    Status add(int n, const Mesh &m, const Health &h);
    // Closes the last chunk.
    Status finish();

    // The files held, in series order, and the chunks that hold them.
    const std::vector<int> &files() const
    {
        return files_;
    }
    const std::vector<PageChunk> &chunks() const
    {
        return chunks_;
    }
    // Bytes of records before and after deflate.
    std::size_t raw_bytes() const
    {
        return raw_total_;
    }
    std::size_t deflated_bytes() const
    {
        return deflated_total_;
    }

  private:
    void put_u16(unsigned v);
    void put_mesh(const Mesh &m);
    void put_coordinates(const Mesh &m);
    void put_faults(const Mesh &m, const Health &h);
    Status close_chunk();

    PageCoding coding_;
    std::vector<int> files_;
    std::vector<PageChunk> chunks_;
    std::vector<unsigned char> raw_; // the records of the chunk being filled
    int in_chunk_ = 0;
    std::unique_ptr<Mesh> mesh_; // the last file's connectivity
    bool any_mesh_ = false;
    std::vector<float> history_[3]; // the last files of this mesh, the latest first
    int nhistory_ = 0;
    std::vector<std::uint32_t> residual_; // working space
    std::size_t raw_total_ = 0;
    std::size_t deflated_total_ = 0;
};

// bytes as base64, without line breaks.
std::string base64(const unsigned char *bytes, std::size_t n);
