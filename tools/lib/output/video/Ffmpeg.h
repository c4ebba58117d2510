// What the video library's parts share over FFmpeg: one owner per kind of FFmpeg object, each
// freed by the library's own function; the capture of FFmpeg's log; and the failures that the
// library's entries turn into a status (VideoLibrary.h), which never leave the library.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <stdexcept>
#include <string>

namespace output::video {

struct TCodecContextFree {
    void operator()(AVCodecContext* AContext) const noexcept { avcodec_free_context(&AContext); }
};
struct TFrameFree {
    void operator()(AVFrame* AFrame) const noexcept { av_frame_free(&AFrame); }
};
struct TPacketFree {
    void operator()(AVPacket* APacket) const noexcept { av_packet_free(&APacket); }
};
struct TScaleFree {
    void operator()(SwsContext* AContext) const noexcept { sws_freeContext(AContext); }
};
struct TResampleFree {
    void operator()(SwrContext* AContext) const noexcept { swr_free(&AContext); }
};
struct TFifoFree {
    void operator()(AVAudioFifo* AFifo) const noexcept { av_audio_fifo_free(AFifo); }
};
// The muxer's context; its I/O context is ours and has an owner of its own.
struct TFormatFree {
    void operator()(AVFormatContext* AContext) const noexcept { avformat_free_context(AContext); }
};
// The I/O context and its buffer, which the library may have replaced by one of its own.
struct TIoFree {
    void operator()(AVIOContext* AContext) const noexcept
    {
        av_freep(&AContext->buffer);
        avio_context_free(&AContext);
    }
};

using TCodecContext = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using TFrame = std::unique_ptr<AVFrame, TFrameFree>;
using TPacket = std::unique_ptr<AVPacket, TPacketFree>;

// Options left over after an open: those the codec or muxer did not know.
class TDictionary {
public:
    TDictionary() = default;
    ~TDictionary() { av_dict_free(&FDictionary); }
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;

    void Set(const char* AKey, const char* AValue) { av_dict_set(&FDictionary, AKey, AValue, 0); }
    AVDictionary** Address() noexcept { return &FDictionary; }

private:
    AVDictionary* FDictionary = nullptr;
};

// A failure the library explains in a line ("cannot open the video encoder: ...").
class EVideoFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// A write to the output file that failed with the system's AErrno (a full disk, a size limit).
class EWriteFailure : public std::exception {
public:
    explicit EWriteFailure(int AErrno) noexcept : FErrno(AErrno) {}
    int Errno() const noexcept { return FErrno; }
    const char* what() const noexcept override { return "cannot write the file"; }

private:
    int FErrno;
};

// FFmpeg reports its errors through its log, which would print them on standard error beside
// the preview's own one-line message. From here on they are kept instead: the last one explains a
// failure.
void CaptureLog();
// The last error FFmpeg logged since the last call, or empty.
std::string TakeLastLogLine();
// FFmpeg's text for an error code.
std::string ErrorText(int AError);

// EVideoFailure for a failed AResult (negative): AWhat and the last logged error, or FFmpeg's text
// for the code.
[[noreturn]] void ThrowFailure(int AResult, const char* AWhat);

} // namespace output::video
