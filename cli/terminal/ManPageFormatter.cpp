#include "cli/terminal/ManPageFormatter.h"

#include <cctype>
#include <sstream>

namespace Zorvik::Cli {

namespace {

constexpr std::size_t kIndent = 7;
constexpr std::size_t kDescriptionIndent = 14;

// Text as roff takes it literally: backslashes escaped, no line taken for a request.
std::string RoffText(const std::string& text) {
    std::string escaped;
    for (const char c : text) escaped += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
    std::string lines;
    std::istringstream input(escaped);
    for (std::string line; std::getline(input, line);)
        lines += (line.rfind('.', 0) == 0 || line.rfind('\'', 0) == 0 ? "\\&" : "") + line + '\n';
    return lines;
}

std::string RoffParagraphs(const std::string& text) {
    std::string roff;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\n\n", start);
        if (end == std::string::npos) end = text.size();
        if (start > 0) roff += ".PP\n";
        roff += RoffText(text.substr(start, end - start));
        start = end + 2;
    }
    return roff;
}

}  // namespace

std::string OptionName(const CLI::Option* option) {
    if (option->get_positional()) return option->get_name(true);
    std::string name;
    for (const auto& shortName : option->get_snames()) name += (name.empty() ? "-" : ", -") + shortName;
    for (const auto& longName : option->get_lnames()) name += (name.empty() ? "--" : ", --") + longName;
    if (option->get_items_expected_max() > 0) name += " " + option->get_option_text();
    return name;
}

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

std::vector<ManPageFormatter::Section> ManPageFormatter::Sections(const CLI::App* app) const {
    using Kind = Section::Kind;
    std::vector<Section> sections;
    const auto add = [&](const char* title, Kind kind, std::string text, std::vector<std::pair<std::string, std::string>> terms = {}) {
        if (!text.empty() || !terms.empty()) sections.push_back(Section{title, kind, std::move(text), std::move(terms)});
    };
    add("NAME", Kind::Lines, page_.name + " - " + page_.summary);
    add("SYNOPSIS", Kind::Lines, page_.synopsis);
    add("DESCRIPTION", Kind::Paragraphs, page_.description);
    std::vector<std::pair<std::string, std::string>> commands;
    for (const CLI::App* command : app->get_subcommands({})) commands.emplace_back(command->get_name(), command->get_description());
    add("COMMANDS", Kind::Terms, {}, std::move(commands));
    std::vector<std::pair<std::string, std::string>> options;
    for (const CLI::Option* option : app->get_options({}))
        if (!option->get_group().empty()) options.emplace_back(OptionName(option), option->get_description());  // no group: hidden
    add("OPTIONS", Kind::Terms, {}, std::move(options));
    add("EXIT STATUS", Kind::Terms, {}, page_.exitStatus);
    add("ENVIRONMENT", Kind::Terms, {}, page_.environment);
    add("EXAMPLES", Kind::Lines, page_.examples);
    return sections;
}

std::string ManPageFormatter::make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const {
    std::ostringstream out;
    for (const Section& section : Sections(app)) {
        out << section.title << '\n';
        switch (section.kind) {
        case Section::Kind::Paragraphs: out << WrapParagraphs(section.text, kIndent); break;
        case Section::Kind::Lines: {
            std::istringstream lines(section.text);
            for (std::string line; std::getline(lines, line);) out << (line.empty() ? "" : std::string(kIndent, ' ') + line) << '\n';
            break;
        }
        case Section::Kind::Terms:
            // Terms on a line of their own, their meaning indented below, as manual pages list them.
            for (const auto& [term, meaning] : section.terms)
                out << std::string(kIndent, ' ') << term << '\n' << WrapParagraphs(meaning, kDescriptionIndent);
            break;
        }
        out << '\n';
    }
    return out.str();
}

std::string ManPageFormatter::Roff(const CLI::App* app, const std::string& version) const {
    std::string title = page_.name;
    for (char& c : title) c = c == ' ' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string roff = ".TH " + title + " 1 \"\" \"zorvik " + version + "\" \"User Commands\"\n";
    for (const Section& section : Sections(app)) {
        roff += ".SH " + section.title + "\n";
        switch (section.kind) {
        case Section::Kind::Paragraphs: roff += RoffParagraphs(section.text); break;
        case Section::Kind::Lines: roff += ".nf\n" + RoffText(section.text) + ".fi\n"; break;
        case Section::Kind::Terms:
            for (const auto& [term, meaning] : section.terms) {
                std::string tag = RoffText(term);
                tag.pop_back();
                roff += ".TP\n\\fB" + tag + "\\fR\n" + RoffParagraphs(meaning);
            }
            break;
        }
    }
    return roff;
}

}  // namespace Zorvik::Cli
