#include "cli/terminal/Manuals.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "cli/terminal/ManPageFormatter.h"

namespace Zorvik::Cli {

namespace {

void Write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string RoffOf(const CLI::App& app, const std::string& version) {
    const auto formatter = std::dynamic_pointer_cast<ManPageFormatter>(app.get_formatter());
    if (!formatter) throw std::runtime_error(app.get_name() + " has no manual page");
    return formatter->Roff(&app, version);
}

// Every name of the command's visible options ("-o --output"), and of those that take a value.
std::pair<std::string, std::string> OptionWords(const CLI::App& command) {
    std::string all, valued;
    for (const CLI::Option* option : command.get_options({})) {
        if (option->get_positional() || option->get_group().empty()) continue;
        std::string names;
        for (const auto& name : option->get_snames()) names += " -" + name;
        for (const auto& name : option->get_lnames()) names += " --" + name;
        all += names;
        if (option->get_items_expected_max() > 0) valued += names;
    }
    return {all, valued};
}

}  // namespace

std::string BashCompletion(const CLI::App& app) {
    std::string commands = OptionWords(app).first;
    std::string cases;
    for (const CLI::App* command : app.get_subcommands({})) {
        commands += " " + command->get_name();
        const auto [all, valued] = OptionWords(*command);
        cases += "        " + command->get_name() + ") options='" + all + "'; valued='" + valued + "' ;;\n";
    }
    return "# bash completion for zorvik, made from its command line.\n"
           "_zorvik() {\n"
           "    local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]} options valued\n"
           "    if [[ $COMP_CWORD -eq 1 ]]; then\n"
           "        COMPREPLY=($(compgen -W '" +
           commands +
           "' -- \"$current\"))\n"
           "        return\n"
           "    fi\n"
           "    case ${COMP_WORDS[1]} in\n" +
           cases +
           "        *) return ;;\n"
           "    esac\n"
           "    if [[ \" $valued \" == *\" $previous \"* ]]; then\n"
           "        COMPREPLY=($(compgen -f -- \"$current\"))\n"
           "    elif [[ $current == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$options\" -- \"$current\"))\n"
           "    else\n"
           "        COMPREPLY=($(compgen -f -- \"$current\"))\n"
           "    fi\n"
           "}\n"
           "complete -o filenames -F _zorvik zorvik\n";
}

void WriteManuals(const CLI::App& app, const std::string& folder, const std::string& version) {
    const std::filesystem::path share = std::filesystem::path(folder) / "share";
    Write(share / "man/man1/zorvik.1", RoffOf(app, version));
    for (const CLI::App* command : app.get_subcommands({}))
        Write(share / ("man/man1/zorvik-" + command->get_name() + ".1"), RoffOf(*command, version));
    Write(share / "bash-completion/completions/zorvik", BashCompletion(app));
}

}  // namespace Zorvik::Cli
