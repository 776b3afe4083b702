// The view a program draws with, as its command line chose it: the fit, printed for a later run,
// and the files that the view does not show, named once a run.
#pragma once

#include "view/framing.h"
#include "view/view_options.h"

#include <string>
#include <vector>

// Fits c's view to e when --fit was given, and prints it on standard output as options a later
// run takes ("view: --centre 60,20 --tx 0 --ty 0 --tz -259.27"). Nothing without --fit.
Status apply_fit(const Extent &e, ViewChoice *c);

// The files of a run that lie mostly outside the picture, named in one line at the end.
class OutsideFiles
{
  public:
    // File n, which holds m, as v shows it: kept when less than MOSTLY_OUTSIDE of it is inside.
    void look(int n, const Mesh &m, const View &v);
    // "res0000.inp and 360 more files: the mesh (x 0..120, y 0..40 in res0000.inp) lies mostly
    // outside the picture; try --fit"; "" when every file was inside.
    std::string note() const;

  private:
    std::vector<int> files_; // each index once, in the order seen
    int first_ = -1;         // the lowest index kept
    Extent first_box_;       // its box
    double first_share_ = 0; // its share inside
};
