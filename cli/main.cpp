// zorvik: lists, extracts, tests and writes archives through the Zorvik component.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <fmt/format.h>

#include "cli/Commands.h"
#include "cli/Failure.h"
#include "cli/Interrupt.h"
#include "cli/ManPageFormatter.h"
#include "cli/WriteCommandLine.h"
#include "zorvik/runtime/errors.h"

namespace {

using namespace Zorvik::Cli;

const std::vector<std::pair<std::string, std::string>> kExitStatus = {
    {"0", "Success."},
    {"1", "The operation ran but failed, some items failed (each is reported on stderr), a volume is missing, or headers are "
          "damaged (test and extract)."},
    {"2", "Usage error."},
    {"3", "Not an archive: no format could open the file, or it is an archive damaged or cut short."},
    {"4", "Password missing or wrong."},
    {"5", "Archive busy: another operation, in this or another process, is working on it."},
    {"130", "Interrupted by Ctrl-C; the running operation was cancelled."},
};

const std::vector<std::pair<std::string, std::string>> kEnvironment = {
    {"ZORVIK_PASSWORD",
     "The password, when --password is not given. Without either, the password is asked for on the terminal (without echo) "
     "when stdin is one, and asked for again at most twice when it is wrong; otherwise it is missing. A wrong password from "
     "--password or ZORVIK_PASSWORD ends the command at once."},
    {"ZORVIK_ENGINE", "The archive engine module to load instead of the one beside the component."},
    {"ZORVIK_TEMP", "The folder for the component's temporary files."},
};

const char* const kPasswordOption =
    "The password for encrypted entries or encrypted archive headers. Given on the command line it is visible to other users "
    "of the machine; prefer ZORVIK_PASSWORD or the prompt.";

ManPage CommandPage(std::string name, std::string summary, std::string synopsis, std::string description, std::string examples,
                    bool takesPassword = true) {
    // kEnvironment begins with the password's variable.
    auto environment = takesPassword ? kEnvironment : decltype(kEnvironment)(kEnvironment.begin() + 1, kEnvironment.end());
    return {"zorvik " + name, std::move(summary), std::move(synopsis), std::move(description), kExitStatus, std::move(environment),
            std::move(examples)};
}

CLI::Option* AddArchiveOptions(CLI::App* command, ArchiveOptions& options, std::string& password, bool json) {
    command->add_option("ARCHIVE", options.archive, "The archive file. For a multi-volume archive, the first volume; the others are looked for beside it.")
        ->required();
    CLI::Option* passwordOption = command->add_option("-p,--password", password, kPasswordOption)->option_text("PW");
    if (json) command->add_flag("--json", options.json, "Print JSON instead of text.");
    return passwordOption;
}

}  // namespace

int main(int argc, char** argv) {
    Interrupt::Install();
    // Without TZ the C library checks /etc/localtime on every local-time conversion, and the
    // engine makes two for every zip entry it lists; naming the same file reads it once.
    ::setenv("TZ", ":/etc/localtime", 0);

    CLI::App app("Lists, extracts, tests and writes archives of every format the archive engine reads.", "zorvik");
    app.require_subcommand(1);
    app.formatter(std::make_shared<ManPageFormatter>(ManPage{
        "zorvik", "list, extract, test and write archives", "zorvik COMMAND [OPTIONS] ...",
        "zorvik reads archives through the Zorvik component: 7z, zip, tar (also compressed with gzip, bzip2 or xz), RAR and every "
        "other format of the archive engine; it writes the formats the engine can write (7z, zip, tar, gzip, bzip2, xz, wim). Each "
        "command has its own manual: zorvik COMMAND --help.\n\n"
        "Errors are printed on stderr, one line each: \"zorvik: <archive or item>: <reason>\".",
        kExitStatus, kEnvironment, "zorvik list photos.7z\nzorvik extract photos.7z -o photos\nzorvik test photos.7z"}));

    ArchiveOptions options;
    ExtractOptions extract;
    std::string password;
    bool quiet = false;
    bool overwrite = false;
    bool skipExisting = false;
    std::vector<CLI::Option*> passwordOptions;

    auto* formats = app.add_subcommand("formats", "List every archive format of the engine.");
    formats->add_flag("--json", options.json, "Print JSON instead of text.");
    formats->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "formats", "list the archive formats", "zorvik formats [--json]",
        "Lists every format of the archive engine in the order formats are tried when an archive is opened: its name, its "
        "extensions, whether archives of the format can be updated, and whether the format keeps the name of the one file it "
        "holds (so that the entry is named after the archive).\n\n"
        "With --json the output is one object: {\"formats\": [{\"name\": \"7z\", \"extensions\": [\"7z\"], \"canUpdate\": true, "
        "\"keepsName\": false}, ...]}.",
        "zorvik formats\nzorvik formats --json", false)));

    auto* info = app.add_subcommand("info", "Show what an archive is: format, sizes, file count, ratio.");
    passwordOptions.push_back(AddArchiveOptions(info, options, password, true));
    info->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "info", "describe an archive", "zorvik info ARCHIVE [--password PW] [--json]",
        "Opens ARCHIVE and prints its format, packed size (the archive file and its further volumes), unpacked size, number of "
        "files and folders, compression ratio, whether it spans several volumes, whether it can be updated, whether a password was "
        "needed to open it and whether any entry is encrypted.\n\n"
        "With --json: {\"archive\", \"format\", \"packedSize\", \"unpackedSize\", \"fileCount\", \"folderCount\", "
        "\"compressionRatio\", \"multiVolume\", \"canUpdate\", \"passwordUsed\", \"encrypted\"}. \"format\" is the engine's name of "
        "the format that opened the archive (of the tar inside a compressed tar).",
        "zorvik info backup.tar.xz\nzorvik info --json secret.7z")));

    auto* list = app.add_subcommand("list", "List the entries of an archive.");
    passwordOptions.push_back(AddArchiveOptions(list, options, password, true));
    list->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "list", "list the entries of an archive", "zorvik list ARCHIVE [--password PW] [--json]",
        "Prints every entry of ARCHIVE as a table: modification time (UTC), size, packed size, attributes (d folder, - file, * "
        "encrypted) and path. Folders that no entry names but that hold entries (implicit folders) are listed too, without time "
        "or sizes.\n\n"
        "With --json the output is one object {\"archive\": NAME, \"format\": FORMAT, \"entries\": [...]}; each entry is "
        "{\"path\": \"dir/sub/file.txt\", \"folder\": false, \"implicit\": false, \"size\": 123, \"packedSize\": 45, "
        "\"modified\": \"2024-05-01T10:20:30Z\", \"encrypted\": false}. Entries come depth first, each folder before what it "
        "holds; \"path\" joins the names from the root with \"/\"; \"modified\" is null when the entry has no time.\n\n"
        "Entries nested more than 1024 folders deep are not listed: each folder that holds them is reported on stderr and the "
        "exit status is 1.",
        "zorvik list docs.zip\nzorvik list --json docs.zip | jq '.entries[].path'")));

    auto* extractCommand = app.add_subcommand("extract", "Extract entries below a folder.");
    passwordOptions.push_back(AddArchiveOptions(extractCommand, options, password, false));
    extractCommand->add_option("PATH", extract.paths,
                               "Entries to extract, as list shows their paths; a folder brings everything below it. Default: every entry.");
    extractCommand->add_option("-o,--output", extract.output, "The folder to extract into; created when missing. Default: the current folder.")
        ->option_text("DIR");
    auto* overwriteFlag = extractCommand->add_flag("--overwrite", overwrite, "Replace files that exist (the file is replaced, never written through).");
    auto* skipFlag = extractCommand->add_flag("--skip-existing", skipExisting, "Leave files that exist as they are and go on.");
    overwriteFlag->excludes(skipFlag);
    extractCommand->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "extract", "extract entries of an archive",
        "zorvik extract ARCHIVE [-o DIR] [--password PW] [--overwrite | --skip-existing] [PATH ...]",
        "Writes the chosen entries of ARCHIVE (default: all) below DIR, keeping their paths inside the archive, creating folders "
        "and setting modification times.\n\n"
        "Nothing is ever written outside DIR: an entry whose name holds \"..\", an absolute name, or a name that would lead "
        "through a symbolic link (one already in DIR), or an entry nested more than 1024 folders deep, is refused and reported, and "
        "the other entries are extracted. Symbolic "
        "links stored in an archive are written as regular files holding the link's target.\n\n"
        "Each file is written under a temporary name beside it and takes its name only once it is whole, so that a file it "
        "replaces stays until then. A file that exists is an error for that entry unless --overwrite or --skip-existing is "
        "given; a name the archive holds twice is said so, and the later entry is kept. The output of an entry that fails "
        "(damaged data, wrong password, Ctrl-C) is removed, and the report says so. A full disk or a read-only destination "
        "ends the extraction.\n\n"
        "A progress bar is shown on stderr when it is a terminal; --quiet silences it.",
        "zorvik extract photos.7z -o photos\nzorvik extract docs.zip -o out docs/manual.pdf\nZORVIK_PASSWORD=secret zorvik extract secret.7z")));

    auto* test = app.add_subcommand("test", "Decode every entry, writing nothing, and report the damaged ones.");
    passwordOptions.push_back(AddArchiveOptions(test, options, password, false));
    test->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "test", "check the entries of an archive",
        "zorvik test ARCHIVE [--password PW]",
        "Decodes every entry of ARCHIVE without writing anything and checks its data (CRC and the like). Each damaged entry is "
        "reported on stderr; when all are sound, one line on stdout says how many files were tested.\n\n"
        "A progress bar is shown on stderr when it is a terminal; --quiet silences it.",
        "zorvik test photos.7z")));

    for (CLI::App* command : {formats, info, list, extractCommand, test})
        command->add_flag("-q,--quiet", quiet, "No progress bar.");
    WriteCommandLine writeCommands(app, quiet, [](std::string name, std::string summary, std::string synopsis, std::string description,
                                                  std::string examples) {
        return CommandPage(std::move(name), std::move(summary), std::move(synopsis), std::move(description), std::move(examples));
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        fmt::print(stderr, "zorvik: usage: {} (see zorvik --help)\n", error.what());
        return static_cast<int>(ExitCode::Usage);
    }

    for (const CLI::Option* option : passwordOptions)
        if (option->count() > 0) options.password = password;
    if (overwrite) extract.existing = ExistingFiles::Overwrite;
    if (skipExisting) extract.existing = ExistingFiles::Skip;

    Console console(quiet);
    ExitCode code = ExitCode::Success;
    try {
        if (formats->parsed()) code = RunFormats(options.json);
        if (info->parsed()) code = RunInfo(options, console);
        if (list->parsed()) code = RunList(options, console);
        if (extractCommand->parsed()) code = RunExtract(options, extract, console);
        if (test->parsed()) code = RunTest(options, console);
        if (writeCommands.Parsed()) code = writeCommands.Run(console);
    } catch (const CommandError& error) {
        console.EndProgress();
        console.Error(error.Subject(), error.what());
        code = error.Code();
    } catch (const zorvik::rt::hresult_error& error) {
        console.EndProgress();
        console.Error(options.archive.empty() ? "zorvik" : options.archive, Describe(error.code()));
        code = ExitCode::Failed;
    } catch (const std::exception& error) {
        console.EndProgress();
        console.Error(options.archive.empty() ? "zorvik" : options.archive, error.what());
        code = ExitCode::Failed;
    }
    // Ctrl-C that came while nothing could be cancelled still ends the process as interrupted.
    if (Interrupt::Requested() && code != ExitCode::Interrupted) {
        console.Error(options.archive.empty() ? "zorvik" : options.archive, "interrupted");
        code = ExitCode::Interrupted;
    }
    std::fflush(stdout);
    return static_cast<int>(code);
}
