#include "cli/writing/WriteCommandLine.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace Zorvik::Cli {

namespace {

const char* const kPasswordOption =
    "The password: new data is encrypted with it, and an encrypted archive is opened with it. Given on the command line it is "
    "visible to other users of the machine; prefer ZORVIK_PASSWORD.";

const char* const kReplacing =
    "The new archive is written to a temporary file in the archive's folder (\".NAME.zorvik-XXXXXX\", readable by its owner "
    "only), synced, given the permission bits and owner of the archive it replaces, and renamed over it only when the whole "
    "archive was written. A failure, Ctrl-C (exit 130), SIGTERM (143), SIGHUP (129), a full disk or the file size limit (ulimit -f) leaves "
    "the archive as it was and removes the temporary file; only a process killed outright can leave one behind. An archive the user may "
    "not write, or whose owner may not "
    "(chmod u-w), is not replaced (exit 1), as 7zz does. From the moment the archive is opened until it is replaced, "
    "another writing command on it fails with exit code 5, and so does one while an extraction of it runs.\n\n"
    "A progress bar is shown on stderr when it is a terminal. On success one line on stdout says what was written; --quiet "
    "silences both. With --json it is an object {\"archive\", \"operation\", \"format\", \"result\": \"written\" or "
    "\"nothingToUpdate\", counts of the operation, \"archiveSize\"}; a command that fails prints instead the object zorvik(1) "
    "describes, with \"result\": \"failed\".";

const char* const kNaming =
    "A PATH names the entries whose path is exactly the one list prints (a name holding \"..\", \"//\" or \"./\" included: "
    "what cannot be written is such a name on disk, not naming it in the archive; a \"/\" at the end names a folder); when "
    "no entry has it, the entries whose path is PATH without \".\" components and doubled or leading \"/\".";

const char* const kCompression =
    "--method (Copy, LZMA, LZMA2, PPMd, BZip2, Deflate, Deflate64: what the format offers), --level 0 to 9 (0 stores; tar "
    "has no levels but 0), --encryption (zip: ZipCrypto, the default, or AES256; 7z always uses AES-256), --encrypt-headers "
    "(7z: the names are encrypted too) and --solid or --no-solid (7z) choose how new data is written; a choice the format does "
    "not offer is a usage error. 7z is written as 7zz writes it by default: LZMA2, level 5, solid. Data is encrypted when a "
    "password is given with --password or ZORVIK_PASSWORD; only 7z and zip can encrypt, so --password with another format is "
    "a usage error, and ZORVIK_PASSWORD is said to be unused.";

const char* const kVolumes =
    "With --volume-size SIZE the archive is written in volumes of SIZE bytes each, the last one shorter: ARCHIVE.001, "
    "ARCHIVE.002, ... (three digits at least), as 7zz -v writes them, for any format; SIZE is a number with an optional "
    "suffix b, k, m, g or t (powers of 1024, either case: 100M, 4g). The set is read back from its first volume "
    "(zorvik list ARCHIVE.001) by zorvik and by 7zz. Each volume is written under a temporary name beside it "
    "(\".ARCHIVE.001.zorvik-XXXXXX\"); only when the whole set was written are they synced and given their names, one right "
    "after the other. A failure, Ctrl-C or a full disk removes every one of them, so that no part of a set is left. A "
    "volume name that is taken, or the name of the volume after the last (which readers would take for more of the set), "
    "is an error unless create --force is given, which replaces those volumes and removes the old set's later ones. A set "
    "of volumes is read whole, never written anew: add to one is an error. add to an ARCHIVE of one file writes it anew "
    "as a set, and removes the one file once the set has its names. With --json the object also holds \"volumes\", their "
    "number, and \"archiveSize\" is their sum. Zip is split the same way, not into its own \".z01\" form, which Zorvik does "
    "not write.";

// A size as 7zz -v takes it: digits, then b, k, m, g or t (powers of 1024) or nothing for bytes.
std::string ParseVolumeSize(std::string& text) {
    const std::string malformed = "a size is a number with one of b, k, m, g, t after it, or none: " + text;
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    const std::string suffix = text.substr(digits);
    int shift = 0;
    if (suffix.size() > 1) return malformed;
    if (!suffix.empty()) {
        const std::string units = "bkmgt";
        const std::size_t unit = units.find(static_cast<char>(std::tolower(static_cast<unsigned char>(suffix[0]))));
        if (unit == std::string::npos) return malformed;
        shift = 10 * static_cast<int>(unit);
    }
    if (digits == 0 || digits > 19) return malformed;
    const std::uint64_t number = std::stoull(text.substr(0, digits));
    if (number == 0) return "a volume holds at least one byte";
    if (shift != 0 && number >= (std::uint64_t{1} << (64 - shift))) return "too large a size: " + text;
    text = std::to_string(number << shift);
    return {};
}

}  // namespace

WriteCommandLine::WriteCommandLine(CLI::App& app, bool& quiet, const PageMaker& page) {
    CLI::App* create = Command(app, "create", "Write a new archive of files and folders.", quiet);
    AddPathOptions(create);
    create->add_option("-f,--format", options_.format, "The format (see zorvik formats). Default: the one the archive's extension names.")
        ->option_text("NAME");
    create->add_flag("--force", options_.force, "Replace the archive when it exists.");
    AddCompressionOptions(create);
    AddVolumeOption(create);
    create->formatter(std::make_shared<ManPageFormatter>(
        page("create", "write a new archive",
             "zorvik create ARCHIVE [--format NAME] [--method M] [--level 0..9] [--password PW] [--encryption E] [--encrypt-headers] "
             "[--solid | --no-solid] [--volume-size SIZE] [--dereference] [--force] [--json] PATH...",
             "Writes ARCHIVE holding the PATHs, folders with everything below them, with their permission bits. Each is stored under "
             "the path as given, relative, without a leading \"/\" or \"./\"; a path with a \"..\" component is refused. Special files "
             "and unreadable files are reported and left out (exit 1). gzip, bzip2 and xz hold exactly one file. An existing ARCHIVE "
             "is an error unless --force is given.\n\n"
             "ARCHIVE \"-\" writes the archive to standard output as it is made (give --format): tar, zip, gzip, bzip2 and xz can be "
             "written so; 7z and wim cannot, since their writers go back into what they wrote, and are a usage error. Standard output "
             "must not be a terminal; the closing line goes to stderr, and --json is a usage error.\n\n"
             "A symbolic link, a PATH given included, is stored as a link, wherever it points (extract decides which links it makes): "
             "in tar as a link entry, in 7z and zip as 7zz -snl stores it, its target as the entry's data. With --dereference what "
             "each link points to is stored in its place, a folder with everything below it; a link to nothing, or to a folder that "
             "holds it, is then reported and left out. A PATH written \"link/\" is followed either way, and gzip, bzip2 and xz, which "
             "hold no links, follow a link given.\n\n" +
                 std::string(kCompression) + "\n\n" + kReplacing + "\n\n" + kVolumes,
             "zorvik create photos.7z photos\nzorvik create --format zip --level 9 docs.zip docs readme.txt\n"
             "zorvik create - --format tar src | ssh host tar -xf -\n"
             "ZORVIK_PASSWORD=secret zorvik create --encrypt-headers secret.7z private\nzorvik create --volume-size 100M backup.7z home")));

    CLI::App* add = Command(app, "add", "Add files and folders to an archive.", quiet);
    AddPathOptions(add);
    add->add_option("--to", to_, "The folder of the archive to add them below; created when missing. Default: the root.")
        ->option_text("FOLDER");
    add->add_option("--on-conflict", options_.onConflict, "What to do when the archive holds an entry of the same name.")
        ->check(CLI::IsMember({"replace", "skip", "rename", "ask"}))
        ->option_text("replace|skip|rename|ask");
    AddCompressionOptions(add);
    AddVolumeOption(add);
    add->formatter(std::make_shared<ManPageFormatter>(
        page("add", "add files and folders to an archive",
             "zorvik add ARCHIVE [--to FOLDER] [--on-conflict replace|skip|rename|ask] [--password PW] [--method M] [--level 0..9] "
             "[--volume-size SIZE] [--dereference] [--json] PATH...",
             "Writes ARCHIVE anew with the PATHs added, stored as create stores them, below FOLDER when --to is given. Entries already "
             "there are copied as they are, not compressed again. An ARCHIVE that does not exist is created.\n\n"
             "When a file is to be stored where the archive holds an entry of that name: replace it, skip the file, store it as "
             "\"name(1).ext\" (or the next free number), or ask on the terminal (the default when stdin is one; answering with a "
             "capital letter does the same for every later clash). Without a terminal the default makes each clash an error for that "
             "file (exit 1) while the others are added. A folder over a folder merges them. A file where a folder is needed writes "
             "nothing (exit 1).\n\n"
             "An archive that was opened with a password gets its new data encrypted with it, and a 7z whose names were encrypted "
             "keeps them so. Beside encrypted entries new data is encrypted with their password, looked for as for reading "
             "(--password, ZORVIK_PASSWORD, else a prompt on a terminal) and proven on one of them first: a wrong or missing one "
             "writes nothing (exit 4).\n\n" +
                 std::string(kCompression) + "\n\n" + kReplacing + "\n\n" + kVolumes,
             "zorvik add photos.7z new/*.jpg --to 2024\nzorvik add --on-conflict rename notes.zip notes.txt")));

    CLI::App* remove = Command(app, "remove", "Remove entries from an archive.", quiet);
    remove->add_option("PATH", options_.paths, "Entries to remove, as list shows their paths; a folder goes with everything below it.")
        ->required();
    remove->formatter(std::make_shared<ManPageFormatter>(
        page("remove", "remove entries from an archive", "zorvik remove ARCHIVE [--password PW] [--json] PATH...",
             "Writes ARCHIVE anew without the entries at the PATHs (as list shows them) and everything below them. When a path names "
             "no entry, nothing is written (exit 1); an empty PATH, \"/\" and \".\" name none (the root is no entry). In a solid 7z "
             "the block that held a removed entry is compressed again, as 7z archives are written by default.\n\n" +
                 std::string(kNaming) + "\n\n" + std::string(kReplacing),
             "zorvik remove photos.7z 2023/blurry.jpg drafts")));

    CLI::App* rename = Command(app, "rename", "Give an entry of an archive a new name.", quiet);
    rename->add_option("PATH", renamedPath_, "The entry, as list shows its path.")->required();
    rename->add_option("NEWNAME", options_.newName, "Its new name, in the same folder.")->required();
    rename->formatter(std::make_shared<ManPageFormatter>(
        page("rename", "give an entry of an archive a new name", "zorvik rename ARCHIVE [--password PW] [--json] PATH NEWNAME",
             "Writes ARCHIVE anew with the entry at PATH (with everything below it, for a folder) named NEWNAME, in the same folder. "
             "The data is copied as it is. A name that another entry has is an error, and nothing is written; changing only the "
             "letter case is not.\n\n" +
                 std::string(kNaming) + "\n\n" + kReplacing,
             "zorvik rename docs.zip docs/draft.txt final.txt")));

    CLI::App* move = Command(app, "move", "Move entries of an archive into another folder of it.", quiet);
    move->add_option("PATH", options_.paths, "Entries to move, as list shows their paths.")->required();
    move->add_option("--to", to_, "The folder to move them into; empty or \"/\" for the root.")->option_text("FOLDER")->required();
    move->formatter(std::make_shared<ManPageFormatter>(
        page("move", "move entries of an archive into another folder", "zorvik move ARCHIVE [--password PW] [--json] PATH... --to FOLDER",
             "Writes ARCHIVE anew with the entries at the PATHs (with everything below them) moved into FOLDER, which must be a "
             "folder of the archive, or the root when it is empty or \"/\". The data is copied as it is. Moving a folder into itself "
             "or below itself is a usage error; a name that FOLDER holds already is an error, and nothing is written.\n\n" +
                 std::string(kNaming) + "\n\n" + kReplacing,
             "zorvik move photos.7z 2024/a.jpg 2024/b.jpg --to best\nzorvik move docs.zip docs/old --to /")));

    commands_ = {{create, RunCreate}, {add, RunAdd}, {remove, RunRemove}, {rename, RunRename}, {move, RunMove}};
}

void WriteCommandLine::AddPathOptions(CLI::App* command) {
    command->add_option("PATH", options_.paths, "Files and folders to add; folders with everything below them.")->required();
    command->add_flag("-L,--dereference", options_.dereference, "Store what symbolic links point to, not the links.");
}

CLI::App* WriteCommandLine::Command(CLI::App& app, const char* name, const char* help, bool& quiet) {
    CLI::App* command = app.add_subcommand(name, help);
    command->add_option("ARCHIVE", options_.archive, "The archive file.")->required();
    passwordOptions_.push_back(command->add_option("-p,--password", password_, kPasswordOption)->option_text("PW"));
    command->add_flag("--json", options_.json, "Print the result as JSON.");
    command->add_flag("-q,--quiet", quiet, "No progress bar, nor the closing line.");
    return command;
}

void WriteCommandLine::AddCompressionOptions(CLI::App* command) {
    CompressionChoice& choice = options_.compression;
    command->add_option("-m,--method", choice.method, "The compression method.")->option_text("M");
    command->add_option("-l,--level", choice.level, "The compression level: 0 stores, 9 compresses most.")
        ->check(CLI::Range(0, 9))
        ->option_text("0..9");
    command->add_option("--encryption", choice.encryption, "The encryption method: ZipCrypto or AES256.")->option_text("E");
    command->add_flag("--encrypt-headers", choice.encryptHeaders, "Encrypt the names too (7z).");
    auto* solid = command->add_flag("--solid", solid_, "Compress the files as one block (7z).");
    command->add_flag("--no-solid", notSolid_, "Compress each file on its own (7z).")->excludes(solid);
}

void WriteCommandLine::AddVolumeOption(CLI::App* command) {
    command->add_option("--volume-size", options_.volumeSize, "Write the archive in volumes of this size: ARCHIVE.001, ARCHIVE.002, ...")
        ->transform(CLI::Validator(ParseVolumeSize, "SIZE"))
        ->option_text("SIZE");
}

bool WriteCommandLine::Parsed() const {
    return std::any_of(commands_.begin(), commands_.end(), [](const auto& command) { return command.first->parsed(); });
}

ExitCode WriteCommandLine::Run(Console& console, bool quiet) {
    options_.quiet = quiet;
    for (const CLI::Option* option : passwordOptions_)
        if (option->count() > 0) options_.password = password_;
    if (solid_ || notSolid_) options_.compression.solid = solid_;
    for (const auto& [command, run] : commands_) {
        if (!command->parsed()) continue;
        if (run == RunRename) options_.paths = {renamedPath_};
        if (command->get_option_no_throw("--to") && command->get_option("--to")->count() > 0) options_.to = to_;
        return run(options_, console);
    }
    return ExitCode::Usage;
}

}  // namespace Zorvik::Cli
