// The output library's units: the GIF's delays and the outputs that appear whole or not at all.
#include "tests/support/PreviewTestSupport.h"

#include "tools/lib/common/ToolError.h"
#include "tools/lib/output/AtomicFile.h"
#include "tools/lib/output/AtomicFolder.h"
#include "tools/lib/output/gif/GifWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include <sys/stat.h>

using testing_support::TScratch;

namespace {

TEST(GifDelay, DelaysAddUpToTheFrameTimes)
{
    for (const std::int32_t fps : {1, 7, 24, 25, 30, 60, 144}) {
        std::int64_t total = 0;
        for (std::int64_t frame = 0; frame < 3 * fps; ++frame) {
            const std::int32_t delay = output::GifDelayOf(frame, fps);
            EXPECT_GE(delay, 100 / fps) << fps;
            EXPECT_LE(delay, 100 / fps + 1) << fps;
            total += delay;
        }
        EXPECT_EQ(total, 300) << fps;
    }
}

TEST(AtomicOutput, NothingAppearsUntilTheCommit)
{
    TScratch scratch;
    const std::string target = scratch / "out.gif";
    {
        output::TAtomicFile file(target);
        std::fputs("half", file.Stream());
    }
    EXPECT_TRUE(scratch.Entries().empty());
    {
        output::TAtomicFile file(target);
        std::fputs("whole", file.Stream());
        EXPECT_FALSE(std::filesystem::exists(target));
        file.Commit();
    }
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"out.gif"});
    EXPECT_EQ(testing_support::ReadLines(target), std::vector<std::string>{"whole"});
    // Readable as any file the user creates, not private as a temporary file starts.
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<mode_t>(std::filesystem::status(target).permissions()), 0666 & ~mask);

    const std::string folder = scratch / "frames";
    {
        output::TAtomicFolder frames(folder);
        std::ofstream(frames.PathOf("a.png")) << "a";
    }
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"out.gif"});
    for (int run = 0; run < 2; ++run) { // a new folder, then one that exists
        output::TAtomicFolder frames(folder);
        std::ofstream(frames.PathOf("a.png")) << run;
        frames.Commit();
    }
    EXPECT_EQ(testing_support::ReadLines(scratch / "frames/a.png"), std::vector<std::string>{"1"});
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"frames", "out.gif"}));

    EXPECT_THROW(output::TAtomicFile(scratch / "no/such/folder.gif"), common::EToolError);
    EXPECT_THROW(output::TAtomicFolder(scratch / "out.gif"), common::EToolError);
}

} // namespace
