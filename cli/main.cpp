// zorvik: lists, extracts, tests and writes archives through the Zorvik component.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <fmt/format.h>

#include "cli/Commands.h"
#include "cli/Failure.h"
#include "cli/Interrupt.h"
#include "cli/JsonFailure.h"
#include "cli/ManPageFormatter.h"
#include "cli/Text.h"
#include "cli/Manuals.h"
#include "cli/WriteCommandLine.h"
#include "zorvik/Version.h"
#include "zorvik/runtime/errors.h"

namespace {

using namespace Zorvik::Cli;

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

const char* const kPasswordOption =
    "The password for encrypted entries or encrypted archive headers. Given on the command line it is visible to other users "
    "of the machine; prefer ZORVIK_PASSWORD or the prompt.";

ManPage CommandPage(std::string name, std::string summary, std::string synopsis, std::string description, std::string examples,
                    bool takesPassword = true) {
    // kEnvironment begins with the password's variable.
    auto environment = takesPassword ? kEnvironment : decltype(kEnvironment)(kEnvironment.begin() + 1, kEnvironment.end());
    return {"zorvik " + name, std::move(summary),     std::move(synopsis), std::move(description),
            kExitStatus,      std::move(environment), std::move(examples)};
}

CLI::Option* AddArchiveOptions(CLI::App* command, ArchiveOptions& options, std::string& password, bool json) {
    command
        ->add_option("ARCHIVE", options.archive,
                     "The archive file. For a multi-volume archive, the first volume; the others are looked for beside it. \"-\" reads "
                     "the archive from standard input; standard input, a pipe or a device is read into a private temporary file "
                     "first, removed at exit.")
        ->required();
    CLI::Option* passwordOption = command->add_option("-p,--password", password, kPasswordOption)->option_text("PW");
    if (json) command->add_flag("--json", options.json, "Print JSON instead of text.");
    return passwordOption;
}

const char* const kSelectionText =
    "A PATH is matched against each entry's whole path, as list shows it: \"*\" and \"?\" match within a name, \"[a-z]\" one "
    "character of a set, \"**\" any number of folders (\"**/*.txt\" is every .txt file, at any depth), and \"\\\" takes the next "
    "character as it is. A folder chosen brings everything below it. A PATH without \"/\" that begins with \"*\" is matched "
    "against every name of a path, as bsdtar matches it: '*.sh' is every .sh file, at any depth (a name without a star, "
    "readme.txt, is the one at the root; **/readme.txt is every one). --exclude leaves out what its pattern matches, and what is "
    "below it; a pattern without \"/\" is matched against every name of a path, so that --exclude '*.o' leaves out .o files at "
    "every depth. A PATH that matches nothing is an error.";

void AddSelection(CLI::App* command, ArchiveOptions& options, const char* what) {
    command->add_option("PATH", options.paths, std::string(what) + " Patterns are allowed (see DESCRIPTION). Default: every entry.");
    command->add_option("--exclude", options.excludes, "Leave out the entries the pattern matches; may be given more than once.")
        ->option_text("PATTERN")
        ->allow_extra_args(false);
}

}  // namespace

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
    app.formatter(std::make_shared<ManPageFormatter>(
        ManPage{"zorvik", "list, extract, test and write archives", "zorvik COMMAND [OPTIONS] ...\nzorvik --version",
                "zorvik reads archives through the Zorvik component: 7z, zip, tar (also compressed with gzip, bzip2 or xz), RAR and every "
                "other format of the archive engine; it writes the formats the engine can write (7z, zip, tar, gzip, bzip2, xz, wim). Each "
                "command has its own manual: zorvik COMMAND --help.\n\n"
                "Errors are printed on stderr, one line each: \"zorvik: <archive or item>: <reason>\". " +
                    std::string(kJsonFailureManual),
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
        "the format that opened the archive (of the tar inside a compressed tar).\n\n" +
            std::string(kJsonFailureManual),
        "zorvik info backup.tar.xz\nzorvik info --json secret.7z")));

    auto* list = app.add_subcommand("list", "List the entries of an archive.");
    passwordOptions.push_back(AddArchiveOptions(list, options, password, true));
    AddSelection(list, options, "Entries to list, as list shows their paths; a folder brings everything below it.");
    list->add_flag("--local-time", options.localTime, "Show times in the local time zone instead of UTC.");
    list->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "list", "list the entries of an archive",
        "zorvik list ARCHIVE [--password PW] [--json] [--local-time] [--exclude PATTERN ...] [PATH ...]",
        "Prints the entries of ARCHIVE (default: all) as a table: modification time (UTC, or the local zone with --local-time, as "
        "the column's title says), size, packed size, attributes (d folder, l symbolic link, - file, * encrypted) and path. Folders that "
        "no entry "
        "names but that hold entries (implicit folders) are listed too, without time or sizes. A symbolic link shows l and its "
        "target (\"-> target\") when the archive keeps it apart from the link's data, a hard link its target (\"link to "
        "target\").\n\n" +
            std::string(kSelectionText) +
            "\n\n"
            "With --json the output is one object {\"archive\": NAME, \"format\": FORMAT, \"entries\": [...]}; each entry is "
            "{\"path\": \"dir/sub/file.txt\", \"folder\": false, \"implicit\": false, \"size\": 123, \"packedSize\": 45, "
            "\"modified\": \"2024-05-01T10:20:30Z\", \"encrypted\": false, \"mode\": 33188, \"symbolicLink\": false, \"linkTarget\": "
            "null, \"hardLinkTarget\": null}. Entries come depth first, each folder before what it holds; \"path\" joins the names "
            "from the root with \"/\"; \"modified\" is null when the entry has no time, and always UTC; \"mode\" is st_mode's type "
            "and permission bits, null when the archive has none; \"linkTarget\" is null also for a link whose target is its data "
            "(7z, zip).\n\n"
            "Entries nested more than 1024 folders deep are not listed: each folder that holds them is reported on stderr and the "
            "exit status is 1.\n\n" +
            std::string(kJsonFailureManual),
        "zorvik list docs.zip\nzorvik list docs.zip 'docs/**/*.pdf'\nzorvik list --json docs.zip | jq '.entries[].path'")));

    auto* extractCommand = app.add_subcommand("extract", "Extract entries below a folder.");
    passwordOptions.push_back(AddArchiveOptions(extractCommand, options, password, true));
    AddSelection(extractCommand, options, "Entries to extract, as list shows their paths; a folder brings everything below it.");
    auto* outputOption =
        extractCommand
            ->add_option("-o,--output", extract.output, "The folder to extract into; created when missing. Default: the current folder.")
            ->option_text("DIR");
    auto* overwriteFlag =
        extractCommand->add_flag("--overwrite", overwrite, "Replace files that exist (the file is replaced, never written through).");
    auto* skipFlag = extractCommand->add_flag("--skip-existing", skipExisting, "Leave files that exist as they are and go on.");
    overwriteFlag->excludes(skipFlag);
    auto* flatFlag = extractCommand->add_flag("-j,--flat", extract.flat,
                                              "Write every file straight into DIR, without its folders; two files of one name are an "
                                              "error for the second, as a file that exists is.");
    auto* stdoutFlag = extractCommand->add_flag("-O,--stdout", extract.toStandardOutput,
                                                "Write the chosen files' data, one after the other in the order they are decoded, "
                                                "to standard output, and nothing else there (links are passed over, messages go to "
                                                "stderr). A file copy of a RAR archive comes right after the file it copies.");
    stdoutFlag->excludes(outputOption)->excludes(flatFlag)->excludes(extractCommand->get_option("--json"));
    extractCommand->add_flag("--preserve-permissions", extract.preservePermissions,
                             "Give files and folders the archive's permission bits exactly, setuid, setgid and sticky bits "
                             "included, without the umask.");
    extractCommand->add_flag("--links-as-files", extract.linksAsFiles,
                             "Make no links: a symbolic link becomes a file holding its target, a hard link a copy of its target.");
    extractCommand->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "extract", "extract entries of an archive",
        "zorvik extract ARCHIVE [-o DIR | -O] [-j] [--overwrite | --skip-existing] [--preserve-permissions]\n"
        "               [--links-as-files] [--password PW] [--json] [--threads N] [--exclude PATTERN ...] [PATH ...]",
        "Writes the chosen entries of ARCHIVE (default: all) below DIR, keeping their paths inside the archive (or none, with "
        "--flat), creating folders and setting modification times and permission bits. The archive's permission bits are masked "
        "by the umask, without setuid, setgid and sticky bits, as tar does for a user other than root; --preserve-permissions "
        "gives them exactly. An entry without permission bits (an archive made on Windows) gets those of a new file.\n\n" +
            std::string(kSelectionText) +
            "\n\n"
            "Nothing is ever written outside DIR: an entry whose name holds \"..\", an absolute name, or a name that would lead "
            "through a symbolic link (one already in DIR, or one of the archive), or an entry nested more than 1024 folders deep, is "
            "refused and reported, and the other entries are extracted.\n\n"
            "Symbolic links are made once every file is written, and only when their target stays inside DIR: the target is followed "
            "name by name from the link's folder, through the links in DIR and the archive's, and a link whose target is absolute, "
            "or goes above DIR at any point, is refused and reported, and nothing is made for it. A hard link is made to a file "
            "written by the same run; one whose target was not extracted is reported. --links-as-files makes no links at all.\n\n"
            "Each file is written under a temporary name beside it and takes its name only once it is whole, so that a file it "
            "replaces stays until then. A file that exists is an error for that entry unless --overwrite or --skip-existing is "
            "given; a name the archive holds twice is said so, and the later entry is kept. The output of an entry that fails "
            "(damaged data, wrong password, Ctrl-C) is removed, and the report says so. A full disk or a read-only destination "
            "ends the extraction.\n\n"
            "When every entry succeeded, one line says how many files were extracted, their size and the time taken (on stderr "
            "with --stdout); with --json the output is instead one object, whatever the outcome of the run: {\"archive\", \"format\", "
            "\"items\": "
            "[{\"path\", \"folder\", \"result\": \"ok\" | \"skipped\" | \"failed\", \"error\"}], \"ok\", \"files\", \"size\", "
            "\"seconds\"}, each item written as soon as its outcome is known (folders and links last; with --threads above 1, once "
            "every entry has ended, in the archive's order). A "
            "progress bar is shown on stderr when it is a terminal; --quiet silences it and the line.\n\n" +
            std::string(kJsonFailureManual),
        "zorvik extract photos.7z -o photos\nzorvik extract docs.zip -o out docs/manual.pdf\nzorvik extract src.tar.gz -o src --exclude "
        "'*.o'\n"
        "zorvik extract logs.zip -O '**/*.log' | grep ERROR\ncurl -s https://example.org/a.tar.xz | zorvik extract - -o a\n"
        "ZORVIK_PASSWORD=secret zorvik extract secret.7z")));

    auto* test = app.add_subcommand("test", "Decode every entry, writing nothing, and report the damaged ones.");
    passwordOptions.push_back(AddArchiveOptions(test, options, password, true));
    AddSelection(test, options, "Entries to test, as list shows their paths; a folder brings everything below it.");
    test->formatter(std::make_shared<ManPageFormatter>(
        CommandPage("test", "check the entries of an archive",
                    "zorvik test ARCHIVE [--password PW] [--json] [--threads N] [--exclude PATTERN ...] [PATH ...]",
                    "Decodes the chosen entries of ARCHIVE (default: all) without writing anything and checks their data (CRC and the "
                    "like). Each damaged entry is reported on stderr; when all are sound, one line on stdout says how many files were "
                    "tested, their size and the time taken. With --json the output is instead one object, as extract gives "
                    "it.\n\n" +
                        std::string(kSelectionText) +
                        "\n\n"
                        "A progress bar is shown on stderr when it is a terminal; --quiet silences it and the line.\n\n" +
                        std::string(kJsonFailureManual),
                    "zorvik test photos.7z\nzorvik test --json photos.7z 'raw/**'")));

    WriteCommandLine writeCommands(
        app, quiet, [](std::string name, std::string summary, std::string synopsis, std::string description, std::string examples) {
            return CommandPage(std::move(name), std::move(summary), std::move(synopsis), std::move(description), std::move(examples));
        });

    auto* version = app.add_subcommand("version", "Print the versions of zorvik, the component and the archive engine.");
    version->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "version", "print the versions", "zorvik version\nzorvik --version",
        "Prints three lines: the version of zorvik, of the Zorvik component it uses, and of the archive engine module the component "
        "loads.",
        "zorvik version", false)));

    for (CLI::App* command : {formats, info, list, extractCommand, test})
        command->add_flag("-q,--quiet", quiet, "No progress bar (nor, for extract and test, the closing line).");
    for (CLI::App* command : {extractCommand, test})
        command
            ->add_option("--threads", options.threads,
                         "The most threads to decode on (default: one a core). Entries that decode independently (zip, ISO, cab "
                         "folders, 7z blocks) are then decoded on several at once; with more than one, what is said of each entry "
                         "comes once all have ended, in the archive's order. 1 decodes on one thread and says it as it goes.")
            ->option_text("N")
            ->check(CLI::Range(1u, 1024u));

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
    if (extract.output == "-") return usageError("-o - would make a folder named \"-\"; -O (--stdout) writes to standard output");
    options.quiet = quiet;

    for (const CLI::Option* option : passwordOptions)
        if (option->count() > 0) options.password = password;
    if (overwrite) extract.existing = ExistingFiles::Overwrite;
    if (skipExisting) extract.existing = ExistingFiles::Skip;

    Console console(quiet);
    const bool writing = writeCommands.Parsed();
    const std::string& archive = writing ? writeCommands.Archive() : options.archive;
    const std::string subject = archive.empty() ? "zorvik" : archive;
    const bool json = writing ? writeCommands.Json() : options.json;
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
        if (formats->parsed()) code = RunFormats(options.json);
        if (info->parsed()) code = RunInfo(options, console);
        if (list->parsed()) code = RunList(options, console);
        if (extractCommand->parsed()) code = RunExtract(options, extract, console);
        if (test->parsed()) code = RunTest(options, console);
        if (writing) code = writeCommands.Run(console, quiet);
        if (version->parsed() || showVersion) code = RunVersion();
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
