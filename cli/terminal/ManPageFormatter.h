// --help in the shape of a manual page: NAME, SYNOPSIS, DESCRIPTION, OPTIONS (or COMMANDS),
// EXIT STATUS, ENVIRONMENT and EXAMPLES, wrapped to 80 columns; and the same page as roff, for
// man(1).
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <utility>
#include <vector>

namespace Zorvik::Cli {

struct ManPage {
    std::string name;                                              // "zorvik list"
    std::string summary;                                           // "list the entries of an archive"
    std::string synopsis;                                          // one usage line per paragraph
    std::string description;                                       // paragraphs separated by blank lines
    std::vector<std::pair<std::string, std::string>> exitStatus;   // (code, meaning)
    std::vector<std::pair<std::string, std::string>> environment;  // (variable, meaning)
    std::string examples;                                          // lines kept as they are
};

class ManPageFormatter : public CLI::Formatter {
public:
    explicit ManPageFormatter(ManPage page) : page_(std::move(page)) {}

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override;
    // The page as man(1) reads it; version goes in its header.
    std::string Roff(const CLI::App* app, const std::string& version) const;

    const ManPage& Page() const noexcept { return page_; }

private:
    // A section's body: paragraphs, lines kept as they are, or terms with their meanings.
    struct Section {
        std::string title;
        enum class Kind { Paragraphs, Lines, Terms } kind = Kind::Paragraphs;
        std::string text;
        std::vector<std::pair<std::string, std::string>> terms;
    };
    std::vector<Section> Sections(const CLI::App* app) const;

    ManPage page_;
};

// Wraps each paragraph of text to width columns, every line indented by indent spaces.
std::string WrapParagraphs(const std::string& text, std::size_t indent, std::size_t width = 79);

// An option as a manual lists it: "-o, --output DIR"; a positional by its name.
std::string OptionName(const CLI::Option* option);

}  // namespace Zorvik::Cli
