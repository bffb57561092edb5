// The command line's options and commands as data (cli_options.cpp): parsing, the check of
// what goes with which command and --help walk these tables.
#pragma once

#include "app/cli.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pp::cli {

constexpr unsigned bit(Command c) {
    return 1u << static_cast<unsigned>(c);
}
constexpr unsigned AtInstrument = bit(Command::Read) | bit(Command::Write) | bit(Command::Mode) |
                                  bit(Command::Parts) | bit(Command::Backup) | bit(Command::Verify);
constexpr unsigned Every = AtInstrument | bit(Command::Diff) | bit(Command::Report) |
                           bit(Command::History) | bit(Command::Audit) | bit(Command::Round);

struct CommandRow {
    std::string_view name;
    Command command;
    size_t positional;         // the command's word included
    std::string_view missing;  // what a missing positional argument is told
    std::string_view synopsis; // after the name, before the options
    std::string_view help;     // the lines under it
};

// Reads an option's value into the options; the error when it is no value of that option.
using Apply = std::optional<std::string> (*)(Options& o, const std::string& value,
                                             const std::string& name);

struct OptionRow {
    std::string_view name;
    std::string_view alias; // another name it answers to
    std::string_view value; // what it takes, as the usage names it; empty: a flag
    unsigned commands;      // those it goes with
    Apply apply;            // none: answered before parsing (--help)
    std::string_view help;
};

std::span<const CommandRow> commands();
const CommandRow* commandNamed(std::string_view name);
std::span<const OptionRow> options();
const OptionRow* optionNamed(std::string_view name); // by either name

bool allDigits(std::string_view text);
// A history entry ID: 1, 2, ...
std::optional<long long> entryId(std::string_view text);
std::string upper(std::string_view text);

} // namespace pp::cli
