// The web page of a series as one self-contained HTML file: the page's template and script, built
// into the program, with the series' data and the page's settings put in. It asks for nothing
// beyond itself.
#pragma once

#include "tools/res2html/page_encoder.h"
#include "view/draw.h"

#include <string>
#include <vector>

// What the page shows and how it starts.
struct PageSettings {
    std::string title;
    int w = 300; // the canvas, CSS pixels
    int h = 300;
    int fps = 25;                   // playing speed
    View view;                      // the start view
    bool mark = false;              // faults shown from the start
    std::vector<std::string> times; // each file's time, as text, in the order held
    std::string time_unit;          // "s", or "" where the times count files
    std::vector<std::string> notes; // shown under the picture: the broken files left out
};

// The whole page.
std::string page_html(const PageSettings &settings, const PageEncoder &data);
