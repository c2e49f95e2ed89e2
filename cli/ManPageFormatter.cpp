#include "cli/ManPageFormatter.h"

#include <sstream>

namespace Zorvik::Cli {

namespace {

constexpr std::size_t kIndent = 7;
constexpr std::size_t kDescriptionIndent = 14;

std::string OptionName(const CLI::Option* option) {
    if (option->get_positional()) return option->get_name(true);
    std::string name;
    for (const auto& shortName : option->get_snames()) name += (name.empty() ? "-" : ", -") + shortName;
    for (const auto& longName : option->get_lnames()) name += (name.empty() ? "--" : ", --") + longName;
    if (option->get_items_expected_max() > 0) name += " " + option->get_option_text();
    return name;
}

// Terms on a line of their own, their meaning indented below, as manual pages list them.
std::string Terms(const std::vector<std::pair<std::string, std::string>>& terms) {
    std::string text;
    for (const auto& [term, meaning] : terms) text += std::string(kIndent, ' ') + term + '\n' + WrapParagraphs(meaning, kDescriptionIndent);
    return text;
}

void Section(std::ostringstream& out, const char* title, const std::string& body) {
    if (body.empty()) return;
    out << title << '\n' << body << '\n';
}

}  // namespace

std::string WrapParagraphs(const std::string& text, std::size_t indent, std::size_t width) {
    std::ostringstream out;
    std::size_t start = 0;
    bool firstParagraph = true;
    while (start < text.size()) {
        std::size_t end = text.find("\n\n", start);
        if (end == std::string::npos) end = text.size();
        if (!firstParagraph) out << '\n';
        firstParagraph = false;
        std::istringstream words(text.substr(start, end - start));
        std::string word;
        std::size_t column = 0;
        while (words >> word) {
            if (column > 0 && column + 1 + word.size() > width) {
                out << '\n';
                column = 0;
            }
            if (column == 0) {
                out << std::string(indent, ' ') << word;
                column = indent + word.size();
            } else {
                out << ' ' << word;
                column += 1 + word.size();
            }
        }
        if (column > 0) out << '\n';
        start = end + 2;
    }
    return out.str();
}

std::string ManPageFormatter::make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const {
    std::ostringstream out;
    Section(out, "NAME", std::string(kIndent, ' ') + page_.name + " - " + page_.summary + "\n");
    std::string synopsis;
    std::istringstream lines(page_.synopsis);
    for (std::string line; std::getline(lines, line);) synopsis += std::string(kIndent, ' ') + line + '\n';
    Section(out, "SYNOPSIS", synopsis);
    Section(out, "DESCRIPTION", WrapParagraphs(page_.description, kIndent));

    std::string commands;
    for (const CLI::App* command : app->get_subcommands({}))
        commands += std::string(kIndent, ' ') + command->get_name() + '\n' + WrapParagraphs(command->get_description(), kDescriptionIndent);
    Section(out, "COMMANDS", commands);

    std::string options;
    for (const CLI::Option* option : app->get_options({})) {
        options += std::string(kIndent, ' ') + OptionName(option) + '\n';
        options += WrapParagraphs(option->get_description(), kDescriptionIndent);
    }
    Section(out, "OPTIONS", options);
    Section(out, "EXIT STATUS", Terms(page_.exitStatus));
    Section(out, "ENVIRONMENT", Terms(page_.environment));
    std::string examples;
    std::istringstream exampleLines(page_.examples);
    for (std::string line; std::getline(exampleLines, line);) examples += line.empty() ? "\n" : std::string(kIndent, ' ') + line + '\n';
    Section(out, "EXAMPLES", examples);
    return out.str();
}

}  // namespace Zorvik::Cli
