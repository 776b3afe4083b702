// One pair of result files of the same index compared: their structure exactly, their
// coordinates by one rule, as read, in double precision.
#pragma once

#include "resfile/res_file.h"

#include <string>

// Two coordinates a (the reference's) and b (the candidate's) differ when
// |a - b| > max(atol, rtol * max(|a|, |b|)); NaN or an infinity differs from anything, unless
// nan_equal and both hold the same (NaN and NaN, or the same infinity).
struct Tolerance {
    double atol = 1e-10;          // mesh units, or a fraction of the box diagonal
    bool atol_of_diagonal = true; // atol is a fraction of the reference file's box diagonal
    double rtol = 0;
    bool nan_equal = false;
};

// A node of a pair, as both files hold it.
struct NodeDelta {
    int node = -1; // slot, -1 for none
    double ref_x = 0, ref_y = 0, cand_x = 0, cand_y = 0;
    double delta = 0;         // |(cand_x, cand_y) - (ref_x, ref_y)|
    double shortest_edge = 0; // of the reference's edges at the node; 0 for a node without one
};

// What one pair shows.
struct PairResult {
    int n = -1;
    bool same_bytes = false;  // recognised without parsing
    int np = 0, nele = 0;     // the candidate's
    std::string structure;    // what differs in counts or corners, "" when nothing
    int nflipped = 0;         // elements whose corners are in reversed order
    int first_flipped = -1;   // slot
    int nonfinite = 0;        // values not finite on either side that differ
    int first_nonfinite = -1; // node slot
    int ndiffer = 0;          // nodes whose x or y differ by the rule
    double atol = 0;          // the absolute atol in force for this pair, mesh units
    double diagonal = 0;      // of the reference's box of nodes
    NodeDelta largest;        // the node of the largest |delta| among finite ones
    double needed_atol = 0;   // the smallest atol with which the coordinates pass, mesh units

    bool differ() const
    {
        return !structure.empty() || nflipped > 0 || nonfinite > 0 || ndiffer > 0;
    }
};

// Compares file n's reference mesh ref with its candidate cand by t.
PairResult compare_pair(int n, const Mesh &ref, const Mesh &cand, const Tolerance &t);

// Whether the files at paths a and b are regular files of the same bytes; false also when one
// cannot be read (the load path then says why).
bool same_bytes(const std::string &a, const std::string &b);
