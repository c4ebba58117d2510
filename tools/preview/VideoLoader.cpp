// Loads the video writer's library on demand (see VideoWriter.h).
#include "tools/lib/common/ToolError.h"
#include "tools/lib/common/ProgramPaths.h"
#include "tools/preview/VideoWriter.h"

#include <dlfcn.h>

#include <string>

namespace preview {

namespace {

// The loaded library, released when its writer is gone. Its code stays mapped (RTLD_NODELETE):
// an exception it threw, whose virtual functions it holds, may still be on its way to main.
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

// A writer of the library, and the library, which must outlive the writer's code.
class TLoadedWriter final : public output::TFrameWriter {
public:
    explicit TLoadedWriter(std::unique_ptr<TLibrary> ALibrary) : FLibrary(std::move(ALibrary)) {}

    std::unique_ptr<output::TFrameWriter>& Inner() noexcept { return FInner; }

    void Write(std::int64_t AFrame, const std::uint32_t* APixels) override { FInner->Write(AFrame, APixels); }
    void Finish() override { FInner->Finish(); }
    output::TStagedOutput* Staged() noexcept override { return FInner->Staged(); }

private:
    std::unique_ptr<TLibrary> FLibrary; // declared first: destroyed after the writer
    std::unique_ptr<output::TFrameWriter> FInner;
};

} // namespace

std::unique_ptr<output::TFrameWriter> MakeVideoWriter(const TOptions& AOptions)
{
    const std::string folder = common::LibraryFolder();
    // A bare name would be looked up in the system's folders and LD_LIBRARY_PATH instead.
    if (folder.empty())
        throw common::EToolError("cannot write output " + common::Quoted(AOptions.Output) +
                                 ": cannot find the video encoders (the program's own folder cannot be read)");
    const std::string path = folder + VideoLibraryName;
    auto library = std::make_unique<TLibrary>(path);
    if (!library->Handle()) {
        const char* reason = dlerror();
        throw common::EToolError("cannot write output " + common::Quoted(AOptions.Output) +
                                 ": cannot load the video encoders (" + (reason ? reason : path) + ")");
    }
    using TMake = void (*)(const TOptions*, std::unique_ptr<output::TFrameWriter>*);
    auto* const make = reinterpret_cast<TMake>(dlsym(library->Handle(), "SelvanoreMakeVideoWriter"));
    if (!make)
        throw common::EToolError("cannot write output " + common::Quoted(AOptions.Output) + ": " + path +
                                 " is no video library");
    auto writer = std::make_unique<TLoadedWriter>(std::move(library));
    make(&AOptions, &writer->Inner());
    return writer;
}

} // namespace preview
