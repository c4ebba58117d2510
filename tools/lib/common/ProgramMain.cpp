#include "tools/lib/common/ProgramMain.h"

#include "tools/lib/common/Interrupt.h"
#include "tools/lib/common/ToolError.h"

#include <exception>
#include <new>

namespace common {

int RunProgram(const TProgram& AProgram, int ACount, char** AArguments, int (*ABody)(int ACount, char** AArguments))
{
    OccupyStandardDescriptors();
    SetProgramName(AProgram.Name);
    InstallEndingHandlers();
    try {
        return ABody(ACount, AArguments);
    } catch (const EInterrupted& error) {
        ReportOneLine(error.what());
        return ExitInterrupted;
    } catch (const EToolError& error) {
        ReportOneLine(error.what());
        return ExitBadInput;
    } catch (const std::bad_alloc&) {
        ReportOneLine(AProgram.OutOfMemory);
        return ExitBadInput;
    } catch (const std::exception& error) {
        ReportOneLine(error.what());
        return 1;
    }
}

} // namespace common
