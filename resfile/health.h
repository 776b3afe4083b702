// Where a series goes wrong: each element's orientation (computed exactly), inverted and
// degenerate elements, shape quality and node displacement, measured file by file against the
// run's reference mesh. Standard C++ only; no OpenGL.
#pragma once

#include "res_file.h"

// Twice the signed area of triangle (a, b, c): positive when a, b, c turn counter-clockwise,
// negative clockwise, zero exactly when they lie on one line. The sign is always right: a
// floating-point filter decides it where rounding cannot matter, an exact sum of the products
// where it can (for coordinates between about 1e-140 and 1e140 in size, or zero).
double orient2d(double ax, double ay, double bx, double by, double cx, double cy);

// What the run has seen so far: its reference mesh (the first file, or the last file that
// started a new mesh) and the previous file. Start with a fresh one for each run.
struct HealthTrack {
    bool started = false;
    Mesh reference;                      // the run's reference file
    signed char expected[MESH_CAPACITY]; // each element's orientation in the reference (+1, -1);
                                         // the majority's where it had none
    bool has_previous = false;
    Mesh previous; // the file measured last
};

// One file measured against its run.
struct Health {
    bool new_mesh;                 // this file is the reference now: its counts or corners differ
                                   // from the reference's (or it is the run's first file)
    int ninverted;                 // elements turned the other way round from the reference
    int ndegenerate;               // elements of exactly zero area
    int first_inverted;            // slot of the first inverted element, -1 if none
    int first_degenerate;          // slot of the first degenerate element, -1 if none
    int worst;                     // slot of the element of lowest quality, -1 without elements
    double worst_quality;          // its quality
    int far_reference;             // slot of the node moved farthest from the reference, -1 if none
    double disp_reference;         // that distance, mesh units
    int far_previous;              // slot of the node moved farthest since the previous file, -1 if
                                   // none or that file held another mesh
    double disp_previous;          // that distance, mesh units
    double area[MESH_CAPACITY];    // signed area by the file's corner order, mesh units squared
    double quality[MESH_CAPACITY]; // 4 sqrt(3) area / sum of squared edges, in (-1, 1]: 1 for an
                                   // equilateral triangle, negative exactly when inverted
    unsigned char inverted[MESH_CAPACITY]; // 1 for an inverted element
    double ux[MESH_CAPACITY];              // node displacement from the reference, mesh units
    double uy[MESH_CAPACITY];
};

// Measures mesh m, the next file of the run, into *h and makes it the track's previous file.
// In the reference itself an element is inverted when it turns against the majority of the
// file's elements, so a fold already there is found too.
void measure_health(HealthTrack *track, const Mesh &m, Health *h);

// The centroid of element slot e.
void element_centroid(const Mesh &m, int e, double *x, double *y);
