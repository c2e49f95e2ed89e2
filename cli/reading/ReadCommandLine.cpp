#include "cli/reading/ReadCommandLine.h"

#include "cli/terminal/JsonFailure.h"
#include "cli/terminal/ManualPages.h"

namespace Zorvik::Cli {

namespace {

const char* const kPasswordOption =
    "The password for encrypted entries or encrypted archive headers. Given on the command line it is visible to other users "
    "of the machine; prefer ZORVIK_PASSWORD or the prompt.";

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

ReadCommandLine::ReadCommandLine(CLI::App& app, bool& quiet) {
    formats_ = app.add_subcommand("formats", "List every archive format of the engine.");
    formats_->add_flag("--json", options_.json, "Print JSON instead of text.");
    formats_->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "formats", "list the archive formats", "zorvik formats [--json]",
        "Lists every format of the archive engine in the order formats are tried when an archive is opened: its name, its "
        "extensions, whether archives of the format can be updated, and whether the format keeps the name of the one file it "
        "holds (so that the entry is named after the archive).\n\n"
        "With --json the output is one object: {\"formats\": [{\"name\": \"7z\", \"extensions\": [\"7z\"], \"canUpdate\": true, "
        "\"keepsName\": false}, ...]}.",
        "zorvik formats\nzorvik formats --json", false)));

    info_ = app.add_subcommand("info", "Show what an archive is: format, sizes, file count, ratio.");
    passwordOptions_.push_back(AddArchiveOptions(info_, options_, password_, true));
    info_->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "info", "describe an archive", "zorvik info ARCHIVE [--password PW] [--json]",
        "Opens ARCHIVE and prints its format, packed size (the archive file and its further volumes), unpacked size, number of "
        "files and folders, compression ratio, whether it spans several volumes, whether it can be updated, whether a password was "
        "needed to open it and whether any entry is encrypted.\n\n"
        "With --json: {\"archive\", \"format\", \"packedSize\", \"unpackedSize\", \"fileCount\", \"folderCount\", "
        "\"compressionRatio\", \"multiVolume\", \"canUpdate\", \"passwordUsed\", \"encrypted\"}. \"format\" is the engine's name of "
        "the format that opened the archive (of the tar inside a compressed tar).\n\n" +
            std::string(kJsonFailureManual),
        "zorvik info backup.tar.xz\nzorvik info --json secret.7z")));

    list_ = app.add_subcommand("list", "List the entries of an archive.");
    passwordOptions_.push_back(AddArchiveOptions(list_, options_, password_, true));
    AddSelection(list_, options_, "Entries to list, as list shows their paths; a folder brings everything below it.");
    list_->add_flag("--local-time", options_.localTime, "Show times in the local time zone instead of UTC.");
    list_->formatter(std::make_shared<ManPageFormatter>(CommandPage(
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

    extract_command_ = app.add_subcommand("extract", "Extract entries below a folder.");
    passwordOptions_.push_back(AddArchiveOptions(extract_command_, options_, password_, true));
    AddSelection(extract_command_, options_, "Entries to extract, as list shows their paths; a folder brings everything below it.");
    auto* outputOption =
        extract_command_
            ->add_option("-o,--output", extract_.output, "The folder to extract into; created when missing. Default: the current folder.")
            ->option_text("DIR");
    auto* overwriteFlag =
        extract_command_->add_flag("--overwrite", overwrite_, "Replace files that exist (the file is replaced, never written through).");
    auto* skipFlag = extract_command_->add_flag("--skip-existing", skipExisting_, "Leave files that exist as they are and go on.");
    overwriteFlag->excludes(skipFlag);
    auto* flatFlag = extract_command_->add_flag("-j,--flat", extract_.flat,
                                                "Write every file straight into DIR, without its folders; two files of one name are an "
                                                "error for the second, as a file that exists is.");
    auto* stdoutFlag = extract_command_->add_flag("-O,--stdout", extract_.toStandardOutput,
                                                  "Write the chosen files' data, one after the other in the order they are decoded, "
                                                  "to standard output, and nothing else there (links are passed over, messages go to "
                                                  "stderr). A file copy of a RAR archive comes right after the file it copies.");
    stdoutFlag->excludes(outputOption)->excludes(flatFlag)->excludes(extract_command_->get_option("--json"));
    extract_command_->add_flag("--preserve-permissions", extract_.preservePermissions,
                               "Give files and folders the archive's permission bits exactly, setuid, setgid and sticky bits "
                               "included, without the umask.");
    extract_command_->add_flag("--links-as-files", extract_.linksAsFiles,
                               "Make no links: a symbolic link becomes a file holding its target, a hard link a copy of its target.");
    extract_command_->formatter(std::make_shared<ManPageFormatter>(CommandPage(
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
            "\"seconds\"}, each item written as soon as its outcome is known (folders and links last; with --threads above 1, in the "
            "archive's order, once the entries before it have ended). A "
            "progress bar is shown on stderr when it is a terminal; --quiet silences it and the line.\n\n" +
            std::string(kJsonFailureManual),
        "zorvik extract photos.7z -o photos\nzorvik extract docs.zip -o out docs/manual.pdf\nzorvik extract src.tar.gz -o src --exclude "
        "'*.o'\n"
        "zorvik extract logs.zip -O '**/*.log' | grep ERROR\ncurl -s https://example.org/a.tar.xz | zorvik extract - -o a\n"
        "ZORVIK_PASSWORD=secret zorvik extract secret.7z")));

    test_ = app.add_subcommand("test", "Decode every entry, writing nothing, and report the damaged ones.");
    passwordOptions_.push_back(AddArchiveOptions(test_, options_, password_, true));
    AddSelection(test_, options_, "Entries to test, as list shows their paths; a folder brings everything below it.");
    test_->formatter(std::make_shared<ManPageFormatter>(
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

    for (CLI::App* command : {formats_, info_, list_, extract_command_, test_})
        command->add_flag("-q,--quiet", quiet, "No progress bar (nor, for extract and test, the closing line).");
    for (CLI::App* command : {extract_command_, test_})
        command
            ->add_option(
                "--threads", options_.threads,
                "The most threads to decode on (default: one a core). Entries that decode independently (zip, ISO, cab "
                "folders, 7z blocks) are then decoded on several at once; with more than one, what is said of each entry "
                "comes in the archive's order, once the entries before it have ended. 1 decodes on one thread and says it as it goes.")
            ->option_text("N")
            ->check(CLI::Range(1u, 1024u));
}

void ReadCommandLine::AddVersion(CLI::App& app) {
    version_ = app.add_subcommand("version", "Print the versions of zorvik, the component and the archive engine.");
    version_->formatter(std::make_shared<ManPageFormatter>(CommandPage(
        "version", "print the versions", "zorvik version\nzorvik --version",
        "Prints three lines: the version of zorvik, of the Zorvik component it uses, and of the archive engine module the component "
        "loads.",
        "zorvik version", false)));
}

std::optional<std::string> ReadCommandLine::UsageError() const {
    if (extract_.output == "-") return "-o - would make a folder named \"-\"; -O (--stdout) writes to standard output";
    return std::nullopt;
}

ExitCode ReadCommandLine::Run(Console& console, bool quiet) {
    options_.quiet = quiet;
    for (const CLI::Option* option : passwordOptions_)
        if (option->count() > 0) options_.password = password_;
    if (overwrite_) extract_.existing = ExistingFiles::Overwrite;
    if (skipExisting_) extract_.existing = ExistingFiles::Skip;
    if (formats_->parsed()) return RunFormats(options_.json);
    if (info_->parsed()) return RunInfo(options_, console);
    if (list_->parsed()) return RunList(options_, console);
    if (extract_command_->parsed()) return RunExtract(options_, extract_, console);
    if (test_->parsed()) return RunTest(options_, console);
    return ExitCode::Success;
}

}  // namespace Zorvik::Cli
