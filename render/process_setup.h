// How the renderer's process is set up for drawing many frames with Mesa's software rasteriser.
#pragma once

// Keeps freed memory in the process: Mesa's software rasteriser takes and frees its working
// memory every frame, and handing it back to the system each time made a frame of the sample
// series a third slower (sbrk, page faults).
void keep_heap_between_frames();

// Before the context is made, for meshes of `elements` (those of the series' first file): Mesa's
// rasteriser on the drawing thread for a small mesh, unless LP_NUM_THREADS is set. Its threads
// take each frame and are waited for, which costs more than they save for a small mesh, whatever
// the picture's size. Measured on two processors, ms a frame on the drawing thread against with
// the threads: the sample series (1280 elements) 1.2 against 1.7 at 300x300, 4.1 against 4.5 at
// 1920x1080; max-size meshes (4999) 9.5 against 8.3 at 300x300, 12 against 11 at 600x600.
void choose_rasteriser_threads(int elements);
