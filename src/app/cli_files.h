// paramporter-cli's commands on files alone: no port, no instrument.
#pragma once

namespace pp::cli {

class CliSession;

int diffCommand(CliSession& session);   // diff FILE1 FILE2
int reportCommand(CliSession& session); // report FILE [-o OUT]

} // namespace pp::cli
