// The renderer's pictures on their way to the files: a ring of frames that a thread of its own
// encodes in series order while the next ones are drawn, into one PNG a file and one looping
// animated GIF of them all.
#pragma once

#include "picture/gif_file.h"
#include "render/pixels.h"
#include "resfile/res_file.h"
#include "tools/common/whole_file.h"
#include "util/status.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the pictures go into.
struct PictureOutputs {
    const char *png_dir = nullptr;  // one PNG a file here, if given
    const char *gif_path = nullptr; // one animated GIF, if given
    int fps = 25;                   // the GIF's frames a second
    bool keep_frames = false; // files come in any order (a follow): the GIF is made at the end
};

class FrameWriter
{
  public:
    // wrote is told, on the writer's thread, each file whose picture went out: into its PNG file,
    // or into the GIF when there are no PNG files.
    FrameWriter(PictureOutputs out, std::function<void(int n)> wrote);
    // Stops the thread; a GIF not committed leaves only its temporary, which goes too.
    ~FrameWriter();
    FrameWriter(const FrameWriter &) = delete;
    FrameWriter &operator=(const FrameWriter &) = delete;

    // Makes the output folders (removing what killed runs left there), starts the GIF, makes the
    // ring of frames of w x h pixels as rows_of lays them out, and starts the writing thread.
    Status open(const PixelRows &layout);

    // Waits for a free frame of the ring to draw into; an error once the writer has failed.
    Status claim(unsigned char **frame);
    // The frame just claimed holds file n's picture: it goes to the outputs.
    void hand_over(int n);

    // Waits until every frame handed over is written and stops the thread. The error is the first
    // output that could not be written.
    Status close();
    // Finishes the GIF (a follow's frames put in, in series order) and puts it in place. A GIF
    // that is not committed is not written: an earlier GIF of its name stays as it was.
    Status commit_gif();
    // Removes the GIF's temporary when the GIF is not to be written; an error when it stays.
    Status drop_gif()
    {
        return gif_file_.abandon();
    }
    bool gif_written() const
    {
        return gif_written_;
    }
    // The files whose pictures came out black: nothing was drawn inside the picture. Read once
    // closed.
    const std::vector<int> &blank() const
    {
        return blank_;
    }

  private:
    static constexpr int RING = 3;
    void write_frames();
    Status write_frame(int slot, bool *png_written);
    Status keep_frame(int n, const PixelRows &pic);

    PictureOutputs out_;
    PixelRows layout_; // the frames' size, kind and row order
    GifWriter gif_;
    WholeFile gif_file_;
    Status gif_failure_;                             // why the GIF's bytes could not be written
    std::map<int, std::vector<unsigned char>> kept_; // each index's last frame, compressed
    std::vector<unsigned char> png_;                 // the encoded PNG of the frame at hand
    std::vector<unsigned char> frames_[RING];        // read-back pictures
    int index_[RING] = {};                           // the result index of each frame
    long produced_ = 0;                              // frames handed over
    long consumed_ = 0;                              // frames the writer is done with
    std::function<void(int n)> wrote_;
    bool finished_ = false; // no more frames will come
    Status failure_;        // written by the writer thread alone, read once it has stopped
    bool failed_ = false;
    bool gif_written_ = false;
    std::vector<int> blank_; // written by the writer thread alone
    std::mutex m_;
    std::condition_variable cv_;
    std::thread thread_;
};
