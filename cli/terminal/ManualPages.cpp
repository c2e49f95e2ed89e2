#include "cli/terminal/ManualPages.h"

#include "cli/terminal/JsonFailure.h"

namespace Zorvik::Cli {

namespace {

const std::vector<std::pair<std::string, std::string>> kExitStatus = {
    {"0", "Success."},
    {"1",
     "The operation ran but failed, some items failed (each is reported on stderr), a volume is missing, the archive ends "
     "before its last entry, or headers are damaged (test and extract)."},
    {"2", "Usage error."},
    {"3", "Not an archive: no format could open the file, or it is an archive damaged or cut short."},
    {"4", "Password missing or wrong."},
    {"5", "Archive busy: another operation, in this or another process, is working on it."},
    {"130", "Interrupted by Ctrl-C; the running operation was cancelled, and what it had half written removed."},
    {"143, 129", "Ended by SIGTERM or SIGHUP, as for Ctrl-C. A write past the file size limit (ulimit -f) is a failure (1)."},
};

const std::vector<std::pair<std::string, std::string>> kEnvironment = {
    {"ZORVIK_PASSWORD",
     "The password, when --password is not given. Without either, the password is asked for on the terminal (without echo) "
     "when stdin is one, and asked for again at most twice when it is wrong; otherwise it is missing. A wrong password from "
     "--password or ZORVIK_PASSWORD ends the command at once."},
    {"ZORVIK_ENGINE", "The archive engine module to load instead of the component's own (zorvik/lib7z.UWP.so in its folder)."},
    {"ZORVIK_TEMP", "The folder for the component's temporary files."},
};

}  // namespace

ManPage CommandPage(std::string name, std::string summary, std::string synopsis, std::string description, std::string examples,
                    bool takesPassword) {
    // kEnvironment begins with the password's variable.
    auto environment = takesPassword ? kEnvironment : decltype(kEnvironment)(kEnvironment.begin() + 1, kEnvironment.end());
    return {"zorvik " + name, std::move(summary),     std::move(synopsis), std::move(description),
            kExitStatus,      std::move(environment), std::move(examples)};
}

void SetMainPage(CLI::App& app) {
    app.formatter(std::make_shared<ManPageFormatter>(
        ManPage{"zorvik", "list, extract, test and write archives", "zorvik COMMAND [OPTIONS] ...\nzorvik --version",
                "zorvik reads archives through the Zorvik component: 7z, zip, tar (also compressed with gzip, bzip2 or xz), RAR and every "
                "other format of the archive engine; it writes the formats the engine can write (7z, zip, tar, gzip, bzip2, xz, wim). Each "
                "command has its own manual: zorvik COMMAND --help.\n\n"
                "Errors are printed on stderr, one line each: \"zorvik: <archive or item>: <reason>\". " +
                    std::string(kJsonFailureManual),
                kExitStatus, kEnvironment, "zorvik list photos.7z\nzorvik extract photos.7z -o photos\nzorvik test photos.7z"}));
}

}  // namespace Zorvik::Cli
