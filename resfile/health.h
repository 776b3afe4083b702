// Where a series goes wrong: each element's orientation (computed exactly), inverted and
// degenerate elements, shape quality and node displacement, measured file by file against a
// reference mesh. Standard C++ only; no OpenGL.
#pragma once

#include "resfile/res_file.h"

// Twice the signed area of triangle (a, b, c): positive when a, b, c turn counter-clockwise,
// negative clockwise, zero exactly when they lie on one line. The sign is always right: a
// floating-point filter decides it where rounding cannot matter, an exact sum of the products
// where it can (for coordinates between about 1e-140 and 1e140 in size, or zero).
double orient2d(double ax, double ay, double bx, double by, double cx, double cy);

// Whether a and b hold the same connectivity: the same counts and the same corners.
bool same_connectivity(const Mesh &a, const Mesh &b);

// A file that the files with its connectivity are measured against.
struct Reference {
    int index = -1; // its index in the series
    Mesh mesh;
    signed char majority = 1;            // the turn of most of its elements (+1, -1)
    signed char expected[MESH_CAPACITY]; // each element's turn in it; the majority's where the
                                         // element has no area
};

// Makes mesh m, file n of the series, the reference *ref.
void make_reference(int n, const Mesh &m, Reference *ref);

// One file measured against its reference.
struct Health {
    int ninverted;                 // elements turned the other way round from the reference
    int ndegenerate;               // elements of exactly zero area
    int first_inverted;            // slot of the first inverted element, -1 if none
    int first_degenerate;          // slot of the first degenerate element, -1 if none
    int worst;                     // slot of the element of lowest quality, -1 without elements
    double worst_quality;          // its quality
    int far_reference;             // slot of the node moved farthest from the reference, -1 if none
    double disp_reference;         // that distance, mesh units
    int far_previous;              // slot of the node moved farthest since the previous file, -1
                                   // without one
    double disp_previous;          // that distance, mesh units
    double area[MESH_CAPACITY];    // signed area by the file's corner order, mesh units squared
    double quality[MESH_CAPACITY]; // 4 sqrt(3) area / sum of squared edges, in (-1, 1]: 1 for an
                                   // equilateral triangle, negative exactly when inverted
    unsigned char inverted[MESH_CAPACITY]; // 1 for an inverted element
    double ux[MESH_CAPACITY];              // node displacement from the reference, mesh units
    double uy[MESH_CAPACITY];
};

// Measures file n's mesh m against ref, whose connectivity it has, and against previous, an
// earlier file of the same connectivity (or nullptr), into *h. An element is inverted when it
// turns otherwise than in the reference; in the reference itself (ref.index is n), when it turns
// against the majority of its elements, so that a fold already there is found too.
void measure_health(const Reference &ref, int n, const Mesh &m, const Mesh *previous, Health *h);

// Where a mesh lies: the box of its nodes, or of several meshes' nodes.
struct Extent {
    bool any = false; // a node has been added
    double xmin = 0, xmax = 0, ymin = 0, ymax = 0;

    // Widens the box to hold every node of m.
    void add(const Mesh &m);
    // Widens the box to hold e.
    void add(const Extent &e);
};

// The centroid of element slot e.
void element_centroid(const Mesh &m, int e, double *x, double *y);
