// paramporter-cli's commands over whole instruments: everything each instrument holds is read.
#pragma once

namespace pp::cli {

class CliSession;

int backupCommand(CliSession& session); // backup --dir DIR
int roundCommand(CliSession& session);  // round --ports LIST

} // namespace pp::cli
