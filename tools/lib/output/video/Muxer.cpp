#include "tools/lib/output/video/Muxer.h"

#include <sys/stat.h>

#include <cerrno>

namespace output::video {

TMuxer::TMuxer(const char* AMuxer, std::FILE* AFile) : FFile(AFile)
{
    AVFormatContext* context = nullptr;
    Check(avformat_alloc_output_context2(&context, nullptr, AMuxer, nullptr), "cannot set up the container");
    FContext.reset(context);
    // No version strings, creation times or random identifiers: the same run gives the same
    // bytes.
    FContext->flags |= AVFMT_FLAG_BITEXACT;

    constexpr int BufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(BufferSize));
    if (!buffer)
        throw EVideoFailure("out of memory");
    struct stat status {};
    const bool seekable = fstat(fileno(FFile), &status) == 0 && S_ISREG(status.st_mode);
    AVIOContext* io = avio_alloc_context(buffer, BufferSize, 1, this, nullptr, &Write, seekable ? &Seek : nullptr);
    if (!io) {
        av_free(buffer);
        throw EVideoFailure("out of memory");
    }
    FIo.reset(io);
    FContext->pb = io;
}

AVStream* TMuxer::NewStream(const AVCodecContext& AEncoder)
{
    AVStream* stream = avformat_new_stream(FContext.get(), nullptr);
    if (!stream)
        Check(AVERROR(ENOMEM), "cannot set up the container");
    Check(avcodec_parameters_from_context(stream->codecpar, &AEncoder), "cannot set up the container");
    stream->time_base = AEncoder.time_base;
    return stream;
}

void TMuxer::WriteHeader()
{
    TDictionary options;
    Check(avformat_write_header(FContext.get(), options.Address()), "cannot write the header");
}

void TMuxer::WritePacket(AVPacket& APacket, const AVCodecContext& AEncoder, const AVStream& AStream)
{
    av_packet_rescale_ts(&APacket, AEncoder.time_base, AStream.time_base);
    APacket.stream_index = AStream.index;
    // The muxer takes the packet's data and leaves it empty.
    Check(av_interleaved_write_frame(FContext.get(), &APacket), "cannot write the file");
}

void TMuxer::Finish()
{
    Check(av_write_trailer(FContext.get()), "cannot complete the file");
    avio_flush(FIo.get());
    if (FWriteError != 0 || FIo->error < 0)
        Check(FIo->error < 0 ? FIo->error : AVERROR(EIO), "cannot complete the file");
}

void TMuxer::Check(int AResult, const char* AWhat) const
{
    if (AResult >= 0)
        return;
    if (FWriteError != 0)
        throw EWriteFailure(FWriteError);
    ThrowFailure(AResult, AWhat);
}

int TMuxer::Write(void* AOpaque, std::uint8_t* ABytes, int ACount)
{
    auto* self = static_cast<TMuxer*>(AOpaque);
    if (self->FWriteError != 0)
        return AVERROR(self->FWriteError);
    errno = 0;
    if (std::fwrite(ABytes, 1, static_cast<std::size_t>(ACount), self->FFile) != static_cast<std::size_t>(ACount)) {
        self->FWriteError = errno != 0 ? errno : EIO;
        return AVERROR(self->FWriteError);
    }
    return ACount;
}

std::int64_t TMuxer::Seek(void* AOpaque, std::int64_t AOffset, int AWhence)
{
    std::FILE* file = static_cast<TMuxer*>(AOpaque)->FFile;
    if (AWhence & AVSEEK_SIZE) {
        struct stat status {};
        if (std::fflush(file) != 0 || fstat(fileno(file), &status) != 0)
            return AVERROR(errno);
        return status.st_size;
    }
    if (fseeko(file, AOffset, AWhence & ~AVSEEK_FORCE) != 0)
        return AVERROR(errno);
    return ftello(file);
}

} // namespace output::video
