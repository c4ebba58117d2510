// The entries of selvanore-preview-video.so (VideoLibrary.h): every failure inside is caught
// here and handed back as a status, so that nothing of C++ crosses to the program.
#include "tools/lib/output/video/VideoEncoder.h"

#include <cstdio>
#include <new>

struct SelvanoreVideo {
    output::video::TVideoEncoder Encoder;
};

namespace output::video {

namespace {

void SetStatus(SelvanoreVideoStatus* AStatus, SelvanoreVideoResult AResult, int AErrno, const char* AMessage) noexcept
{
    AStatus->Result = AResult;
    AStatus->Errno = AErrno;
    std::snprintf(AStatus->Message, sizeof AStatus->Message, "%s", AMessage);
}

// Calls ACall and turns what it throws into AStatus; returns the result.
template <typename TCall>
std::int32_t Contain(SelvanoreVideoStatus* AStatus, TCall&& ACall) noexcept
{
    SetStatus(AStatus, SelvanoreVideoOk, 0, "");
    try {
        ACall();
    } catch (const EWriteFailure& failure) {
        SetStatus(AStatus, SelvanoreVideoWriteFailed, failure.Errno(), failure.what());
    } catch (const std::bad_alloc&) {
        SetStatus(AStatus, SelvanoreVideoOutOfMemory, 0, "out of memory");
    } catch (const std::exception& failure) {
        SetStatus(AStatus, SelvanoreVideoFailed, 0, failure.what());
    } catch (...) {
        SetStatus(AStatus, SelvanoreVideoFailed, 0, "an unknown failure");
    }
    return AStatus->Result;
}

SelvanoreVideo* Open(const SelvanoreVideoSetup* ASetup, SelvanoreVideoStatus* AStatus)
{
    SelvanoreVideo* video = nullptr;
    Contain(AStatus, [&] {
        const TContainer* container = ContainerOf(ASetup->Container);
        if (!container)
            throw EVideoFailure("not a video container");
        CaptureLog();
        video = new SelvanoreVideo{TVideoEncoder(*ASetup, *container)};
    });
    return video;
}

std::int32_t Write(SelvanoreVideo* AVideo, std::int64_t AFrame, const std::uint32_t* APixels, std::int64_t ASoundStart,
                   std::int32_t ASoundCount, const float* ALeft, const float* ARight, SelvanoreVideoStatus* AStatus)
{
    return Contain(AStatus, [&] { AVideo->Encoder.Write(AFrame, APixels, ASoundStart, ASoundCount, ALeft, ARight); });
}

std::int32_t Finish(SelvanoreVideo* AVideo, SelvanoreVideoStatus* AStatus)
{
    return Contain(AStatus, [&] { AVideo->Encoder.Finish(); });
}

void Close(SelvanoreVideo* AVideo)
{
    delete AVideo;
}

constexpr SelvanoreVideoEntries Entries{&Open, &Write, &Finish, &Close};

} // namespace

} // namespace output::video

extern "C" __attribute__((visibility("default"))) const SelvanoreVideoEntries* SelvanoreVideoLibrary()
{
    return &output::video::Entries;
}
