// --json of a command that failed before its own object began on stdout: one object that says
// so, so that a caller always gets JSON. {"archive", "operation", "result": "failed",
// "exitCode", "error": the reason that ended it (else the last said), "errors": [{"subject", "message"}, ...] every
// line said on stderr}.
#pragma once

#include <string>

#include "cli/terminal/Console.h"
#include "cli/terminal/ExitCode.h"

namespace Zorvik::Cli {

// What the manual pages say of it.
inline constexpr const char* kJsonFailureManual =
    "With --json, a command that fails before its own object is printed prints instead {\"archive\", \"operation\", "
    "\"result\": \"failed\", \"exitCode\", \"error\": the reason it ended, \"errors\": [{\"subject\", \"message\"}, ...] every "
    "line said on stderr}, so that standard output is always one JSON object.";

void PrintJsonFailure(const std::string& operation, const std::string& archive, int exitCode, const std::string& error,
                      const Console& console);

}  // namespace Zorvik::Cli
