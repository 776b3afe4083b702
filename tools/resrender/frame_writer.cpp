#include "tools/resrender/frame_writer.h"

#include "picture/png_file.h"
#include "tools/common/series_tool.h"
#include "tools/common/stop_signals.h"
#include "tools/common/temporaries.h"

#include <cstdint>
#include <cstring>
#include <zlib.h>

FrameWriter::FrameWriter(PictureOutputs out, std::function<void(int n)> wrote)
    : out_(out), wrote_(std::move(wrote))
{
}

FrameWriter::~FrameWriter()
{
    (void)close();
}

Status FrameWriter::open(const PixelRows &layout)
{
    layout_ = layout;
    Status s;
    if (out_.png_dir)
        s = open_output_folder(out_.png_dir, ".png");
    if (s.ok() && out_.gif_path) {
        s = open_output_file(out_.gif_path);
        if (s.ok())
            s = gif_file_.open(out_.gif_path);
        auto sink = [this](const unsigned char *bytes, std::size_t n) {
            gif_failure_ = gif_file_.write(bytes, n);
            return gif_failure_.ok();
        };
        if (s.ok())
            s = gif_.open(sink, layout.w, layout.h, (100 + out_.fps / 2) / out_.fps);
        // A write that failed says more than the encoder's "write failed".
        if (!s.ok() && !gif_failure_.ok())
            s = gif_failure_;
    }
    if (!s.ok())
        return s;
    const std::size_t bytes =
        (std::size_t)layout.w * (std::size_t)layout.h * (std::size_t)pixel_bytes(layout.pixels);
    for (auto &f : frames_)
        f.resize(bytes);
    // The writer leaves the stop signals to the thread that draws, which may wait for files.
    sigset_t mask = block_stop_signals();
    thread_ = std::thread(&FrameWriter::write_frames, this);
    restore_signals(mask);
    return Status();
}

Status FrameWriter::claim(unsigned char **frame)
{
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return produced_ - consumed_ < RING || failed_; });
    if (failed_)
        return failure_;
    *frame = frames_[produced_ % RING].data();
    return Status();
}

void FrameWriter::hand_over(int n)
{
    std::lock_guard<std::mutex> lock(m_);
    index_[produced_ % RING] = n;
    ++produced_;
    cv_.notify_all();
}

// A frame of a follow, kept for the GIF made at the end. Mostly black: zlib's fastest level
// shrinks it fifty times or more.
Status FrameWriter::keep_frame(int n, const PixelRows &pic)
{
    std::vector<unsigned char> &z = kept_[n];
    const std::size_t raw = frames_[0].size();
    uLongf len = compressBound((uLong)raw);
    z.resize(len);
    if (compress2(z.data(), &len, pic.data, (uLong)raw, 1) != Z_OK)
        return Status::error("cannot keep a frame of the GIF: out of memory");
    z.resize(len);
    return Status();
}

namespace
{

// Whether every byte is zero: black, and nothing drawn. Eight bytes at a time.
bool all_zero(const std::vector<unsigned char> &bytes)
{
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + i, 8);
        any |= word;
    }
    for (; i < bytes.size(); ++i)
        any |= bytes[i];
    return any == 0;
}

} // namespace

// Writes the frame in slot into every output; *png_written says whether its PNG file was.
Status FrameWriter::write_frame(int slot, bool *png_written)
{
    PixelRows pic = layout_;
    pic.data = frames_[slot].data();
    if (all_zero(frames_[slot]))
        blank_.push_back(index_[slot]);
    if (out_.png_dir) {
        std::string path = std::string(out_.png_dir) + "/" + output_name(index_[slot], ".png");
        std::size_t len = 0;
        Status s = encode_png(pic, &png_, &len);
        if (s.ok())
            s = write_whole_file(path, png_.data(), len);
        if (!s.ok())
            return s;
        *png_written = true;
    }
    if (out_.gif_path && out_.keep_frames)
        return keep_frame(index_[slot], pic);
    if (out_.gif_path) {
        Status s = gif_.add_frame(pic);
        // A failed write says more than the encoder's "write failed".
        return s.ok() || gif_failure_.ok() ? s : gif_failure_;
    }
    return Status();
}

void FrameWriter::write_frames()
{
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
        cv_.wait(lock, [this] { return consumed_ < produced_ || finished_; });
        if (consumed_ == produced_)
            return;
        int slot = (int)(consumed_ % RING);
        lock.unlock();
        bool png_written = false;
        Status s = write_frame(slot, &png_written);
        lock.lock();
        ++consumed_;
        if (png_written || (s.ok() && !out_.png_dir))
            wrote_(index_[slot]);
        failed_ = !s.ok();
        failure_ = s;
        cv_.notify_all();
        if (!s.ok())
            return;
    }
}

Status FrameWriter::close()
{
    {
        std::lock_guard<std::mutex> lock(m_);
        finished_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
    return failure_;
}

Status FrameWriter::commit_gif()
{
    // A follow's frames go into the animation now, in series order.
    std::vector<unsigned char> &frame = frames_[0];
    PixelRows pic = layout_;
    pic.data = frame.data();
    Status s;
    for (auto k = kept_.begin(); s.ok() && k != kept_.end(); ++k) {
        uLongf len = (uLongf)frame.size();
        s = uncompress(frame.data(), &len, k->second.data(), (uLong)k->second.size()) == Z_OK
                ? gif_.add_frame(pic)
                : Status::error("cannot put a kept frame into the GIF");
    }
    if (s.ok())
        s = gif_.close();
    if (s.ok())
        s = gif_file_.commit();
    gif_written_ = s.ok();
    return s.ok() || gif_failure_.ok() ? s : gif_failure_;
}
