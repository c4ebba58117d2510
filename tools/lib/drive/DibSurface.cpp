#include "tools/lib/drive/DibSurface.h"

#include "tools/lib/common/ToolError.h"

#include <string>

namespace drive {

TDibSurface::TDibSurface(std::int32_t AWidth, std::int32_t AHeight) : FContext(AWidth, AHeight)
{
    if (!FContext.Dc())
        throw common::EToolError("cannot create a drawing context");
    if (!FContext.Valid())
        throw common::EToolError("cannot create a " + std::to_string(AWidth) + "x" + std::to_string(AHeight) +
                                 " drawing surface");
}

} // namespace drive
