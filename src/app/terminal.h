// Asking the person at the terminal: a line typed in, the echo off for a password. Read from the
// terminal itself, never from standard input: a password is not taken from a pipe or a file.
#pragma once

#include <optional>
#include <string>

namespace pp::cli {

// The line typed after `prompt` (without its line end); none, with `why` set, when this process
// has no terminal to ask on.
std::optional<std::string> askTerminal(const std::string& prompt, bool echo, std::string& why);

} // namespace pp::cli
