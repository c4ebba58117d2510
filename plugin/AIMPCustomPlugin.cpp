#include "plugin/AIMPCustomPlugin.h"

HRESULT TAIMPCustomPlugin::Initialize(IAIMPCore* Core)
{
    TAIMPAPIWrappers::Initialize(Core);
    return S_OK;
}

void TAIMPCustomPlugin::Finalize()
{
    TAIMPAPIWrappers::Finalize();
}

void TAIMPCustomPlugin::Notify(INT_PTR, INT_PTR) {}

std::unique_ptr<TAIMPServiceConfig> TAIMPCustomPlugin::ServiceGetConfig()
{
    return std::make_unique<TAIMPServiceConfig>();
}
