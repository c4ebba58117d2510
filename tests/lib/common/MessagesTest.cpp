// What every program says at its end: quoted names, one-line reports, and the line and status of
// each way a run ends.
#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ProgramMain.h"
#include "tools/lib/common/ToolError.h"

#include <gtest/gtest.h>

#include <csignal>
#include <new>
#include <stdexcept>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(Messages, QuotedNamesEscapeWhatATerminalWouldActOn)
{
    struct TCase {
        std::string Name;
        std::string Shown;
    } const cases[] = {
        {"song.flac", "'song.flac'"},
        {"", "''"},
        {"it's", "'it\\'s'"},
        {"a\\b", "'a\\\\b'"},
        {"two\nlines\r\t", "'two\\nlines\\r\\t'"},
        {"\x1b[2J\x1b]0;title\x07", "'\\x1b[2J\\x1b]0;title\\x07'"},
        {std::string("nul\0byte", 8), "'nul\\x00byte'"},
        {"del\x7f", "'del\\x7f'"},
        {"C1 CSI \xc2\x9b"
         "31m",
         "'C1 CSI \\x9b31m'"},
        {"caf\xc3\xa9 \xe2\x99\xab \xf0\x9f\x8e\xb5", "'caf\xc3\xa9 \xe2\x99\xab \xf0\x9f\x8e\xb5'"},
        {"latin1 \xe9t\xe9", "'latin1 \\xe9t\\xe9'"},
        {"overlong \xc0\xaf, surrogate \xed\xa0\x80, cut \xe2\x99",
         "'overlong \\xc0\\xaf, surrogate \\xed\\xa0\\x80, cut \\xe2\\x99'"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(common::Quoted(c.Name), c.Shown) << c.Shown;
}

TEST(Messages, AReportIsOneLineWithNothingATerminalWouldActOn)
{
    struct TCase {
        const char* Message;
        const char* Line;
    } const cases[] = {
        {"cannot decode input 'a.wav': bad\nheader", "prog: cannot decode input 'a.wav': bad header\n"},
        {"text \x1b[31mred\r\n", "prog: text \\x1b[31mred  \n"},
        {"a quoted name 'x\\'y' stays as quoted", "prog: a quoted name 'x\\'y' stays as quoted\n"},
        {"C1 \xc2\x9b"
         "1m",
         "prog: C1 \\x9b1m\n"},
    };
    const char* const named = common::ProgramName();
    common::SetProgramName("prog");
    for (const TCase& c : cases) {
        testing::internal::CaptureStderr();
        common::ReportOneLine(c.Message);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.Line) << c.Line;
    }
    common::SetProgramName(named);
}

// A program's main is RunProgram: whatever ends its run, the one line begins with the name it
// stated, in a child process of its own (RunProgram installs the ending handlers).
TEST(Messages, EveryEndOfARunIsOneLineWithTheProgramsNameAndItsStatus)
{
    struct TCase {
        const char* Name;
        int (*Body)(int, char**);
        const char* Line;
        int Status;
    } const cases[] = {
        {"returns", [](int, char**) { return 0; }, "", 0},
        {"returns its status", [](int, char**) { return 3; }, "", 3},
        {"bad input", [](int, char**) -> int { throw common::EToolError("no such file 'a.wav'"); },
         "prog: no such file 'a.wav'\n", common::ExitBadInput},
        {"stopped", [](int, char**) -> int { throw common::EInterrupted(); }, "prog: interrupted\n",
         common::ExitInterrupted},
        {"out of memory", [](int, char**) -> int { throw std::bad_alloc(); }, "prog: out of memory: ask less\n",
         common::ExitBadInput},
        {"anything else", [](int, char**) -> int { throw std::runtime_error("odd\nthing"); }, "prog: odd thing\n", 1},
        {"an ending signal",
         [](int, char**) {
             raise(SIGTERM);
             return 0;
         },
         "prog: interrupted\n", 128 + SIGTERM},
        {"no way back", [](int, char**) -> int { common::EndProcessNow("lost the display", 2); },
         "prog: lost the display\n", 2},
    };
    for (const TCase& c : cases) {
        int err[2];
        ASSERT_EQ(pipe(err), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(err[0]);
            dup2(err[1], STDERR_FILENO);
            close(err[1]);
            _exit(common::RunProgram({"prog", "out of memory: ask less"}, 0, nullptr, c.Body));
        }
        close(err[1]);
        std::string line;
        char buffer[256];
        for (ssize_t got; (got = read(err[0], buffer, sizeof buffer)) > 0;)
            line.append(buffer, static_cast<std::size_t>(got));
        close(err[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << c.Name << ": " << status;
        EXPECT_EQ(WEXITSTATUS(status), c.Status) << c.Name;
        EXPECT_EQ(line, c.Line) << c.Name;
    }
}

} // namespace
