// zorvik: lists, extracts, tests and writes archives through the Zorvik component.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <fmt/format.h>

#include "cli/terminal/Failure.h"
#include "cli/terminal/Interrupt.h"
#include "cli/terminal/JsonFailure.h"
#include "cli/terminal/ManualPages.h"
#include "cli/terminal/Manuals.h"
#include "cli/reading/ReadCommandLine.h"
#include "cli/terminal/Text.h"
#include "cli/writing/WriteCommandLine.h"
#include "zorvik/Version.h"
#include "zorvik/runtime/errors.h"

using namespace Zorvik::Cli;

int main(int argc, char** argv) {
    Interrupt::Install();
    // Without TZ the C library checks /etc/localtime on every local-time conversion, and the
    // engine makes two for every zip entry it lists; naming the same file reads it once.
    ::setenv("TZ", ":/etc/localtime", 0);

    CLI::App app("Lists, extracts, tests and writes archives of every format the archive engine reads.", "zorvik");
    app.require_subcommand(0, 1);
    bool showVersion = false;
    app.add_flag("--version", showVersion, "Print the versions of zorvik, the component and the archive engine.");
    std::string manualFolder;
    app.add_option("--write-manuals", manualFolder)->group("");  // the build's, not the user's
    SetMainPage(app);
    bool quiet = false;
    ReadCommandLine readCommands(app, quiet);
    WriteCommandLine writeCommands(
        app, quiet, [](std::string name, std::string summary, std::string synopsis, std::string description, std::string examples) {
            return CommandPage(std::move(name), std::move(summary), std::move(synopsis), std::move(description), std::move(examples));
        });
    readCommands.AddVersion(app);

    const auto usageError = [](const std::string& reason) {
        // The reason may quote what was typed.
        fmt::print(stderr, "zorvik: usage: {} (see zorvik --help)\n", Printable(reason));
        return static_cast<int>(ExitCode::Usage);
    };
    if (argc > 1 && argv[1][0] != '-' &&
        app.get_subcommands([&](const CLI::App* command) { return command->get_name() == argv[1]; }).empty())
        return usageError(fmt::format("unknown command \"{}\"", argv[1]));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        return usageError(error.what());
    }
    if (!manualFolder.empty()) {
        WriteManuals(app, manualFolder, ZORVIK_VERSION);
        return 0;
    }
    if (app.get_subcommands().empty() && !showVersion) return usageError("a command is required");
    if (const auto error = readCommands.UsageError()) return usageError(*error);

    Console console(quiet);
    const bool writing = writeCommands.Parsed();
    const std::string& archive = writing ? writeCommands.Archive() : readCommands.Archive();
    const std::string subject = archive.empty() ? "zorvik" : archive;
    const bool json = writing ? writeCommands.Json() : readCommands.Json();
    if (json) console.KeepErrors();
    ExitCode code = ExitCode::Success;
    std::string reason;  // of the failure that ended the command
    const auto fail = [&](const std::string& failureSubject, const std::string& failure, ExitCode failureCode) {
        console.EndProgress();
        console.Error(failureSubject, failure);
        reason = failure;
        code = failureCode;
    };
    try {
        code = readCommands.Run(console, quiet);
        if (writing) code = writeCommands.Run(console, quiet);
        if (readCommands.VersionParsed() || showVersion) code = RunVersion();
    } catch (const CommandError& error) {
        fail(error.Subject(), error.what(), error.Code());
    } catch (const zorvik::rt::hresult_error& error) {
        fail(subject, Describe(error.code()), ExitCode::Failed);
    } catch (const std::exception& error) {
        fail(subject, error.what(), ExitCode::Failed);
    }
    // Ctrl-C that came while nothing could be cancelled still ends the process as interrupted.
    if (Interrupt::Requested() && code != ExitCode::Interrupted) fail(subject, "interrupted", ExitCode::Interrupted);
    const int status = code == ExitCode::Interrupted ? Interrupt::ExitStatus() : static_cast<int>(code);
    if (json && code != ExitCode::Success && !console.HasReportBegun()) {
        const auto commands = app.get_subcommands();
        PrintJsonFailure(commands.empty() ? "" : commands.front()->get_name(), archive, status, reason, console);
    }
    std::fflush(stdout);
    return status;
}
