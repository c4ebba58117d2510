// The program's side of a video: loads the encoders' library on demand (see VideoWriter.h),
// owns the output file and its commit, and turns the library's statuses into the tools' errors.
#include "tools/lib/output/video/VideoWriter.h"

#include "tools/lib/common/ProgramPaths.h"
#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/AtomicFile.h"
#include "tools/lib/output/video/VideoLibrary.h"

#include <dlfcn.h>

#include <cerrno>
#include <new>
#include <string>

namespace output {

namespace {

// The loaded library, released when its writer is gone. Its code stays mapped (RTLD_NODELETE),
// as a library whose threads or log callback might outlive a writer's end.
class TLibrary {
public:
    explicit TLibrary(const std::string& APath) : FHandle(dlopen(APath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE))
    {}
    ~TLibrary()
    {
        if (FHandle)
            dlclose(FHandle);
    }
    TLibrary(const TLibrary&) = delete;
    TLibrary& operator=(const TLibrary&) = delete;

    void* Handle() const noexcept { return FHandle; }

private:
    void* FHandle;
};

std::int32_t ContainerOf(TOutputKind AKind)
{
    switch (AKind) {
    case TOutputKind::Mp4: return SelvanoreVideoMp4;
    case TOutputKind::WebM: return SelvanoreVideoWebM;
    case TOutputKind::Mkv: return SelvanoreVideoMkv;
    case TOutputKind::Gif:
    case TOutputKind::PngFolder:
    case TOutputKind::PngFrame:
    case TOutputKind::Stream: break;
    }
    throw common::EToolError("not a video output");
}

// The library's writer of one video, and the file it writes.
class TVideoWriter final : public TFrameWriter {
public:
    TVideoWriter(std::unique_ptr<TLibrary> ALibrary, const SelvanoreVideoEntries& AEntries, const TWriterSetup& ASetup)
        : FLibrary(std::move(ALibrary)), FEntries(AEntries), FFile(ASetup.Path)
    {
        const SelvanoreVideoSetup setup{ContainerOf(ASetup.Kind), ASetup.Width,  ASetup.Height, ASetup.Fps,
                                        ASetup.Sound.Rate,        FFile.Stream()};
        SelvanoreVideoStatus status{};
        FVideo = FEntries.Open(&setup, &status);
        if (!FVideo)
            Raise(status);
    }
    ~TVideoWriter() override { FEntries.Close(FVideo); }
    TVideoWriter(const TVideoWriter&) = delete;
    TVideoWriter& operator=(const TVideoWriter&) = delete;

    void Write(std::int64_t AFrame, const std::uint32_t* APixels, const TSoundSpan& ASound) override
    {
        SelvanoreVideoStatus status{};
        if (FEntries.Write(FVideo, AFrame, APixels, ASound.Start, ASound.Count, ASound.Left, ASound.Right, &status) !=
            SelvanoreVideoOk)
            Raise(status);
    }

    void Finish() override
    {
        if (!FFinished) {
            SelvanoreVideoStatus status{};
            if (FEntries.Finish(FVideo, &status) != SelvanoreVideoOk)
                Raise(status);
            FFinished = true;
        }
        FFile.Finish();
    }

    TStagedOutput* Staged() noexcept override { return &FFile; }

private:
    [[noreturn]] void Raise(const SelvanoreVideoStatus& AStatus) const
    {
        switch (AStatus.Result) {
        case SelvanoreVideoWriteFailed: errno = AStatus.Errno; ThrowWriteError(FFile.Target());
        case SelvanoreVideoOutOfMemory: throw std::bad_alloc();
        default:
            throw common::EToolError("cannot write output " + common::Quoted(FFile.Target()) + ": " + AStatus.Message);
        }
    }

    std::unique_ptr<TLibrary> FLibrary; // first: unloaded after the writer
    const SelvanoreVideoEntries& FEntries;
    TAtomicFile FFile;
    SelvanoreVideo* FVideo = nullptr; // the library's writer, freed before the file
    bool FFinished = false;
};

} // namespace

std::unique_ptr<TFrameWriter> MakeVideoWriter(const TWriterSetup& ASetup)
{
    const std::string folder = common::LibraryFolder();
    // A bare name would be looked up in the system's folders and LD_LIBRARY_PATH instead.
    if (folder.empty())
        throw common::EToolError("cannot write output " + common::Quoted(ASetup.Path) +
                                 ": cannot find the video encoders (the program's own folder cannot be read)");
    const std::string path = folder + VideoLibraryName;
    auto library = std::make_unique<TLibrary>(path);
    if (!library->Handle()) {
        const char* reason = dlerror();
        throw common::EToolError("cannot write output " + common::Quoted(ASetup.Path) +
                                 ": cannot load the video encoders (" + (reason ? reason : path) + ")");
    }
    auto* const entries =
        reinterpret_cast<SelvanoreVideoLibraryFunction>(dlsym(library->Handle(), SELVANORE_VIDEO_ENTRIES));
    if (!entries || !entries())
        throw common::EToolError("cannot write output " + common::Quoted(ASetup.Path) + ": " + path +
                                 " is no video library");
    const SelvanoreVideoEntries& table = *entries();
    return std::make_unique<TVideoWriter>(std::move(library), table, ASetup);
}

} // namespace output
