// paramporter-cli history: the recorded transfers listed, checked, exported, compared,
// approved and revoked; this PC's queue forwarded or counted.
#pragma once

#include "app/cli.h"
#include "app/cli_commands.h"

#include <string>

namespace pp::cli {

int runHistory(const Options& options, Context& context, const std::string& path);
// plant --register-pc HOST --login LOGIN: on --server's plant, else the history server's.
int runPlant(const Options& options, Context& context);

} // namespace pp::cli
