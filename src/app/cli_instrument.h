// paramporter-cli's commands at one instrument, each over one session on the chosen port.
#pragma once

namespace pp::cli {

class CliSession;

int readCommand(CliSession& session);   // read PART -o FILE
int writeCommand(CliSession& session);  // write FILE
int modeCommand(CliSession& session);   // mode [MODE]
int partsCommand(CliSession& session);  // parts
int verifyCommand(CliSession& session); // verify FILE

} // namespace pp::cli
