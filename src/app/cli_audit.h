// paramporter-cli audit: every instrument and scope against its approval, and the auditor's
// report of a period.
#pragma once

#include "app/cli.h"
#include "app/cli_commands.h"

#include <string>

namespace pp::cli {

int runAudit(const Options& options, Context& context, const std::string& path);

} // namespace pp::cli
