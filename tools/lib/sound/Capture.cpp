// The capture through PulseAudio's asynchronous API on a threaded main loop. The simple API's
// blocking read cannot be interrupted, so a capture whose server has stopped answering could
// never be destroyed; here the main loop's own thread receives the blocks, and stopping that
// loop needs nothing from the server.
#include "tools/lib/sound/Capture.h"

#include "tools/lib/sound/CaptureRing.h"

#include "tools/lib/common/ToolError.h"
#include "tools/lib/sound/SignalSource.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <mutex>
#include <string>

namespace sound {
namespace {

// The capture's format: two channels of native-endian floats. The rate is the source's own
// (the stream is opened with a fixed rate), so the server never resamples what it captures;
// this is only the request it adjusts.
constexpr std::uint8_t Channels = 2;
constexpr std::uint32_t RequestedRate = 44100;

// How much the server gathers before it sends a block, in milliseconds. It bounds the capture's
// latency from below; smaller fragments cost more wake-ups for the same sound.
constexpr std::uint32_t FragmentMilliseconds = 10;

// How long opening waits for the server to answer, in microseconds; a server that accepts the
// connection and then says nothing ends the wait with an error instead of a hang.
constexpr pa_usec_t AnswerTimeout = 5 * PA_USEC_PER_SEC;

// Holds the threaded main loop's lock for one scope. The loop's lock is recursive, and the
// loop's own thread holds it while it calls back, so only the opening thread takes it here.
class TLoopLock {
public:
    explicit TLoopLock(pa_threaded_mainloop* ALoop) noexcept : FLoop(ALoop) { pa_threaded_mainloop_lock(FLoop); }
    ~TLoopLock() { pa_threaded_mainloop_unlock(FLoop); }
    TLoopLock(const TLoopLock&) = delete;
    TLoopLock& operator=(const TLoopLock&) = delete;

private:
    pa_threaded_mainloop* FLoop;
};

// One connection to the sound server: the threaded main loop, its context and the recording
// stream, each owned here. The destructor stops the loop first (joining its thread, which needs
// no answer from the server), so that no callback runs while the stream and the context are
// disconnected and released, then frees the loop; every path out of the opening, the error
// paths included, passes through it.
class TPulseSession {
public:
    TPulseSession()
    {
        FLoop = pa_threaded_mainloop_new();
        if (!FLoop)
            throw common::EToolError("cannot start the sound server's client");
    }

    ~TPulseSession()
    {
        if (FStarted)
            pa_threaded_mainloop_stop(FLoop);
        if (FStream) {
            pa_stream_set_state_callback(FStream, nullptr, nullptr);
            pa_stream_set_read_callback(FStream, nullptr, nullptr);
            pa_stream_disconnect(FStream);
            pa_stream_unref(FStream);
        }
        if (FContext) {
            pa_context_set_state_callback(FContext, nullptr, nullptr);
            pa_context_disconnect(FContext);
            pa_context_unref(FContext);
        }
        pa_threaded_mainloop_free(FLoop);
    }

    TPulseSession(const TPulseSession&) = delete;
    TPulseSession& operator=(const TPulseSession&) = delete;

    pa_threaded_mainloop* Loop() const noexcept { return FLoop; }
    pa_context* Context() const noexcept { return FContext; }
    pa_stream* Stream() const noexcept { return FStream; }

    // Makes the context; owned by the session, released in its destructor.
    pa_context* MakeContext(const char* AName)
    {
        FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), AName);
        if (!FContext)
            throw common::EToolError("cannot start the sound server's client");
        return FContext;
    }

    // Makes the stream on the context; owned by the session, released in its destructor.
    pa_stream* MakeStream(const char* AName, const pa_sample_spec& AFormat)
    {
        FStream = pa_stream_new(FContext, AName, &AFormat, nullptr);
        if (!FStream)
            throw common::EToolError(std::string("cannot capture from the sound server: ") +
                                     pa_strerror(pa_context_errno(FContext)));
        return FStream;
    }

    void Start()
    {
        if (pa_threaded_mainloop_start(FLoop) < 0)
            throw common::EToolError("cannot start the sound server's client");
        FStarted = true;
    }

private:
    pa_threaded_mainloop* FLoop = nullptr;
    pa_context* FContext = nullptr;
    pa_stream* FStream = nullptr;
    bool FStarted = false;
};

// A timer on the main loop, removed with its scope; the loop's lock must be held around both.
class TLoopTimer {
public:
    TLoopTimer(pa_threaded_mainloop* ALoop, pa_context* AContext, pa_usec_t AAfter, pa_time_event_cb_t ACallback,
               void* AUserData)
        : FApi(pa_threaded_mainloop_get_api(ALoop)),
          FEvent(pa_context_rttime_new(AContext, pa_rtclock_now() + AAfter, ACallback, AUserData))
    {
        if (!FEvent)
            throw common::EToolError("cannot start the sound server's client");
    }
    ~TLoopTimer() { FApi->time_free(FEvent); }
    TLoopTimer(const TLoopTimer&) = delete;
    TLoopTimer& operator=(const TLoopTimer&) = delete;

private:
    pa_mainloop_api* FApi;
    pa_time_event* FEvent;
};

class TPulseCapture final : public TCapture {
public:
    explicit TPulseCapture(const std::string& ASource);
    ~TPulseCapture() override = default;

    std::int32_t Rate() const noexcept override { return FRate; }
    std::int64_t Latest(float* ALeft, float* ARight) override;

private:
    // Called by the loop's thread from C: nothing may unwind out of them.
    static void OnContextState(pa_context* AContext, void* AUserData) noexcept;
    static void OnStreamState(pa_stream* AStream, void* AUserData) noexcept;
    static void OnRead(pa_stream* AStream, std::size_t ABytes, void* AUserData) noexcept;
    static void OnTimeout(pa_mainloop_api* AApi, pa_time_event* AEvent, const struct timeval* ATime,
                          void* AUserData) noexcept;

    void WaitUntilReady();
    std::string SourceName() const;
    std::string ConnectionMessage(int AError) const;
    std::string SourceMessage(int AError) const;
    void BreakOff(const char* AWhat, int AError) noexcept;

    std::string FSource;
    std::int32_t FRate = static_cast<std::int32_t>(RequestedRate);
    // Both under the loop's lock: FTimedOut is set by the loop's thread while the opening waits;
    // FOpen, once the opening is done, turns a failing stream into a broken-off capture.
    bool FTimedOut = false;
    bool FOpen = false;

    // The newest samples, and whether the stream has broken off. Guarded by FRingLock, which is
    // held only to copy into or out of the ring and never while the server is asked anything.
    mutable std::mutex FRingLock;
    TCaptureRing FRing;
    bool FBroken = false;
    std::string FBrokenOff; // why, when there was memory to say it

    // Last, so that it is destroyed first: its loop is stopped before the ring goes.
    TPulseSession FSession;
};

std::string Reason(int AError)
{
    return pa_strerror(AError);
}

TPulseCapture::TPulseCapture(const std::string& ASource) : FSource(ASource)
{
    // The server lists the capture under the name of the program that opened it.
    pa_context* context = FSession.MakeContext(common::ProgramName());
    pa_context_set_state_callback(context, OnContextState, this);
    FSession.Start();

    TLoopLock lock(FSession.Loop());
    // The timer covers the whole opening: the connection, the server's answer and the stream's.
    TLoopTimer timer(FSession.Loop(), context, AnswerTimeout, OnTimeout, this);

    // No autospawn: a missing server is the user's to start, and reported as missing, rather
    // than a daemon of our own that would capture nothing the desktop plays.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        throw common::EToolError(ConnectionMessage(pa_context_errno(context)));
    WaitUntilReady();

    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, RequestedRate, Channels};
    pa_stream* stream = FSession.MakeStream("desktop capture", format);
    pa_stream_set_state_callback(stream, OnStreamState, this);
    pa_stream_set_read_callback(stream, OnRead, this);

    // Only the fragment size matters to a recording stream; with ADJUST_LATENCY the server also
    // lowers the source's own latency to match, which is what keeps the capture close to the sound.
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize =
        static_cast<std::uint32_t>(pa_usec_to_bytes(FragmentMilliseconds * PA_USEC_PER_MSEC, &format));
    const char* device = ASource.empty() ? "@DEFAULT_MONITOR@" : ASource.c_str();
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_FIX_RATE);
    if (pa_stream_connect_record(stream, device, &attributes, flags) < 0)
        throw common::EToolError(SourceMessage(pa_context_errno(context)));
    WaitUntilReady();

    FRate = static_cast<std::int32_t>(pa_stream_get_sample_spec(stream)->rate);
    FOpen = true;
}

std::string TPulseCapture::SourceName() const
{
    return FSource.empty() ? std::string("the default output's monitor") : common::Quoted(FSource);
}

std::string TPulseCapture::ConnectionMessage(int AError) const
{
    if (AError == PA_ERR_CONNECTIONREFUSED || AError == PA_ERR_INVALIDSERVER || AError == PA_ERR_CONNECTIONTERMINATED)
        return "no sound server to capture from (" + Reason(AError) + ")";
    return "cannot connect to the sound server: " + Reason(AError);
}

std::string TPulseCapture::SourceMessage(int AError) const
{
    // A name the server cannot even parse names no source either.
    if (AError == PA_ERR_NOENTITY || AError == PA_ERR_INVALID)
        return FSource.empty() ? std::string("the sound server has no default output to capture from")
                               : "no sound source named " + SourceName();
    return "cannot capture from " + SourceName() + ": " + Reason(AError);
}

// Waits, under the loop's lock, until the context and the stream (when there is one) are ready;
// throws the opening's error when either fails or the server does not answer in time.
void TPulseCapture::WaitUntilReady()
{
    pa_context* context = FSession.Context();
    pa_stream* stream = FSession.Stream();
    for (;;) {
        const pa_context_state_t contextState = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(contextState))
            throw common::EToolError(stream ? "the sound server went away while opening " + SourceName() + ": " +
                                                  Reason(pa_context_errno(context))
                                            : ConnectionMessage(pa_context_errno(context)));
        if (stream) {
            const pa_stream_state_t streamState = pa_stream_get_state(stream);
            if (streamState == PA_STREAM_READY)
                return;
            if (!PA_STREAM_IS_GOOD(streamState))
                throw common::EToolError(SourceMessage(pa_context_errno(context)));
        } else if (contextState == PA_CONTEXT_READY) {
            return;
        }
        if (FTimedOut)
            throw common::EToolError("the sound server did not answer within " +
                                     std::to_string(AnswerTimeout / PA_USEC_PER_SEC) + " seconds");
        pa_threaded_mainloop_wait(FSession.Loop());
    }
}

void TPulseCapture::OnContextState(pa_context* AContext, void* AUserData) noexcept
{
    auto* self = static_cast<TPulseCapture*>(AUserData);
    if (self->FOpen && !PA_CONTEXT_IS_GOOD(pa_context_get_state(AContext)))
        self->BreakOff("the sound server", pa_context_errno(AContext));
    pa_threaded_mainloop_signal(self->FSession.Loop(), 0);
}

void TPulseCapture::OnStreamState(pa_stream* AStream, void* AUserData) noexcept
{
    auto* self = static_cast<TPulseCapture*>(AUserData);
    if (self->FOpen && !PA_STREAM_IS_GOOD(pa_stream_get_state(AStream))) {
        pa_context* context = self->FSession.Context();
        // A stream killed while its context lives lost its source: an output unplugged or
        // removed, a named source that went away.
        self->BreakOff(PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) ? nullptr : "the sound server",
                       pa_context_errno(context));
    }
    pa_threaded_mainloop_signal(self->FSession.Loop(), 0);
}

void TPulseCapture::OnTimeout(pa_mainloop_api* /*AApi*/, pa_time_event* /*AEvent*/, const struct timeval* /*ATime*/,
                              void* AUserData) noexcept
{
    auto* self = static_cast<TPulseCapture*>(AUserData);
    self->FTimedOut = true;
    pa_threaded_mainloop_signal(self->FSession.Loop(), 0);
}

// Takes every fragment the server has sent. A hole (data the server lost) reads as silence of
// its length, so that the count of samples keeps pace with the sound.
void TPulseCapture::OnRead(pa_stream* AStream, std::size_t /*ABytes*/, void* AUserData) noexcept
{
    auto* self = static_cast<TPulseCapture*>(AUserData);
    while (pa_stream_readable_size(AStream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(AStream, &data, &bytes) < 0 || bytes == 0)
            return;
        {
            std::lock_guard guard(self->FRingLock);
            self->FRing.Feed(static_cast<const unsigned char*>(data), bytes);
        }
        pa_stream_drop(AStream);
    }
}

// Marks the capture broken off by AWhat going away (the source when AWhat is null), for Latest
// to throw. Without the memory for the message the capture is broken off all the same, and
// Latest says so in fewer words.
void TPulseCapture::BreakOff(const char* AWhat, int AError) noexcept
{
    std::string message;
    try {
        message = (AWhat ? std::string(AWhat) : SourceName()) + " went away during the capture: " + Reason(AError);
    } catch (...) {
        message.clear();
    }
    std::lock_guard guard(FRingLock);
    if (!FBroken) {
        FBroken = true;
        FBrokenOff.swap(message);
    }
}

std::int64_t TPulseCapture::Latest(float* ALeft, float* ARight)
{
    std::lock_guard guard(FRingLock);
    if (FBroken)
        throw common::EToolError(FBrokenOff.empty() ? std::string("the capture from the sound server broke off")
                                                    : FBrokenOff);
    return FRing.Latest(ALeft, ARight);
}

} // namespace

std::unique_ptr<TCapture> OpenCapture(const std::string& ASource)
{
    return std::make_unique<TPulseCapture>(ASource);
}

} // namespace sound
