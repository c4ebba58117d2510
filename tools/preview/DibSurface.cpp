#include "tools/preview/DibSurface.h"

#include "tools/preview/PreviewError.h"

#include <string>

namespace preview {

TDibSurface::TDibSurface(std::int32_t AWidth, std::int32_t AHeight) : FContext(AWidth, AHeight)
{
    if (!FContext.Dc())
        throw EPreviewError("cannot create a drawing context");
    if (!FContext.Valid())
        throw EPreviewError("cannot create a " + std::to_string(AWidth) + "x" + std::to_string(AHeight) +
                            " drawing surface");
}

} // namespace preview
