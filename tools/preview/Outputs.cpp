#include "tools/preview/Outputs.h"

#include "tools/lib/sound/SignalSource.h"

namespace preview {

TRunFiles RunFilesOf(const TOptions& AOptions)
{
    TRunFiles files;
    if (!AOptions.Input.empty())
        files.Inputs.push_back({"--input", sound::InputFileOf(AOptions.Input)});
    if (!AOptions.Module.empty())
        files.Inputs.push_back({"--module", AOptions.Module});
    if (AOptions.Wine && !AOptions.WineHelper.empty())
        files.Inputs.push_back({"--wine-helper", AOptions.WineHelper});
    if (!AOptions.Trace.empty())
        files.Outputs.push_back({"--trace", AOptions.Trace});
    return files;
}

output::TWriterSetup WriterSetupOf(const TOptions& AOptions, std::int32_t ASoundRate)
{
    output::TWriterSetup setup;
    setup.Path = AOptions.Output;
    setup.Kind = AOptions.OutputKind;
    setup.Width = AOptions.Width;
    setup.Height = AOptions.Height;
    setup.Fps = AOptions.Fps;
    setup.Frame = AOptions.Frame.value_or(0);
    if (output::FormatOf(AOptions.OutputKind).Sound == output::THasSound::Yes)
        setup.Sound.Rate = ASoundRate;
    return setup;
}

void RequireSeparateOutputs(const TRunFiles& AFiles, const output::TNamedPath& AOutput, output::TOutputKind AKind)
{
    const output::TTarget target = output::FormatOf(AKind).Target;
    std::vector<output::TNamedPath> outputs = AFiles.Outputs;
    if (target == output::TTarget::File)
        outputs.push_back(AOutput);
    output::RequireSeparateFiles(AFiles.Inputs, outputs, target == output::TTarget::Folder ? &AOutput : nullptr,
                                 target == output::TTarget::Stream);
}

} // namespace preview
