// The container around the encoders' packets, written through the output's own file (custom
// I/O), so that the file stays the program's atomic output.
#pragma once

#include "tools/lib/output/video/Ffmpeg.h"

#include <cstdint>
#include <cstdio>

namespace output::video {

class TMuxer {
public:
    // AMuxer's container, written to AFile (borrowed), which is sought when it is a regular file.
    TMuxer(const char* AMuxer, std::FILE* AFile);
    TMuxer(const TMuxer&) = delete;
    TMuxer& operator=(const TMuxer&) = delete;

    // Whether the container keeps the codecs' headers once, for the encoders' flags.
    bool GlobalHeader() const noexcept { return (FContext->oformat->flags & AVFMT_GLOBALHEADER) != 0; }
    // A stream of AEncoder's packets (owned by the muxer).
    AVStream* NewStream(const AVCodecContext& AEncoder);
    void WriteHeader();
    // Hands APacket of AStream, in AEncoder's time base, to the interleaving muxer.
    void WritePacket(AVPacket& APacket, const AVCodecContext& AEncoder, const AVStream& AStream);
    // Writes the trailer and flushes the file's buffer.
    void Finish();

    // Throws the failure that AResult reports, if it is one: EWriteFailure when a write failed
    // (a full disk, a file-size limit), EVideoFailure with FFmpeg's reason otherwise.
    void Check(int AResult, const char* AWhat) const;

private:
    static int Write(void* AOpaque, std::uint8_t* ABytes, int ACount);
    static std::int64_t Seek(void* AOpaque, std::int64_t AOffset, int AWhence);

    std::FILE* FFile;
    int FWriteError = 0; // errno of the first failed write
    std::unique_ptr<AVIOContext, TIoFree> FIo;
    std::unique_ptr<AVFormatContext, TFormatFree> FContext;
};

} // namespace output::video
