#include "cli/reading/Component.h"

#include "cli/terminal/ExitCode.h"
#include "cli/terminal/Failure.h"
#include "zorvik/Activation.h"

namespace Zorvik::Cli {

zorvik::rt::com_ptr<IArchive> NewArchive() {
    try {
        return ActivateInstance<IArchive>(L"Zorvik.Archive");
    } catch (const zorvik::rt::hresult_error& error) {
        throw CommandError(ExitCode::Failed, "component", "cannot start the archive engine: " + Describe(error.code()));
    }
}

std::vector<FormatInfo> Formats() {
    try {
        return zorvik::formats();
    } catch (const zorvik::Error& error) {
        throw CommandError(ExitCode::Failed, "component", "cannot list the formats: " + Describe(error.hresult()));
    }
}

}  // namespace Zorvik::Cli
