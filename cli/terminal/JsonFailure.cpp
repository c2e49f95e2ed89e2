#include "cli/terminal/JsonFailure.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

namespace Zorvik::Cli {

void PrintJsonFailure(const std::string& operation, const std::string& archive, int exitCode, const std::string& error,
                      const Console& console) {
    using Json = nlohmann::ordered_json;
    Json errors = Json::array();
    for (const auto& [subject, message] : console.KeptErrors()) errors.push_back({{"subject", subject}, {"message", message}});
    // A command that ended by returning its code said last why.
    const std::string& reason = error.empty() && !console.KeptErrors().empty() ? console.KeptErrors().back().second : error;
    const Json failure{{"archive", archive},   {"operation", operation}, {"result", "failed"},
                       {"exitCode", exitCode}, {"error", reason},        {"errors", errors}};
    // Names come from the user and from archives: any byte sequence is printed rather than refused.
    fmt::print("{}\n", failure.dump(2, ' ', false, Json::error_handler_t::replace));
}

}  // namespace Zorvik::Cli
