// paramporter-cli's commands, run on the window's own session, decoders, encoders and file
// reader and writer: what a run is given, and the one entry point. Needs a QCoreApplication:
// exchanges wait on its event loop.
#pragma once

class QPagedPaintDevice;

#include "app/cli.h"

#include "files/file_system.h"
#include "files/settings.h"
#include "history/approvals.h"
#include "history/entry.h"
#include "history/forwarder.h"
#include <functional>
#include <optional>
#include <string>

#include <ctime>
#include <iosfwd>

namespace pp::cli {

struct Context {
    std::ostream& out; // results only
    std::ostream& err; // failures, and progress when `progress` is set
    bool progress = false;
    pp::SettingsFolders settings; // where the default port number is kept
    std::tm today{};              // local time: backup file names, the report's date
    pp::FileSystem* fs = &pp::realFileSystem();
    // The history when --history names none; empty: transfers are not recorded.
    std::string historyPath;
    // Where recorded entries are forwarded when --history-server names none; empty: nowhere.
    std::string historyServer;
    // What the person at the terminal types after a prompt (the echo off for a password); none
    // when there is no one to ask. Unset: the terminal itself (askTerminal).
    std::function<std::optional<std::string>(const std::string& prompt, bool echo,
                                             std::string& why)>
        ask;
};

// Runs one parsed command; returns the exit status.
int run(const Options& options, Context& context);

// The plant's settings from the history server at `uri` (waiting at most ForwardWaitMs); where
// it cannot be read, the copy kept in the history at `historyPath`, else the strictest; this
// PC's own without a server. Says on `err` what it fell back to.
pp::history::PlantPolicy plantPolicy(const std::string& uri, const std::string& historyPath,
                                     std::ostream& err);

// Renders into a PDF at `path` (A4, 1200 dpi), through a temporary that replaces it only when
// `paint` succeeded. Needs a GUI application; `why` says more on failure.
bool writePdf(pp::FileSystem& fs, const std::string& path,
              const std::function<bool(QPagedPaintDevice&)>& paint, std::string& why);

// How long a command waits for the history server before it exits.
inline constexpr int ForwardWaitMs = 2000;
// Forwards what is queued, waiting at most ForwardWaitMs; says "History not forwarded yet:
// <reason>" on `err` when something is left (it stays queued), and returns the reason.
std::optional<std::string> forwardBeforeExit(const std::string& historyPath, const std::string& uri,
                                             std::ostream& err);
// What a forward did besides forwarding, on `err`: the entries the server kept as refused, and
// a chain of this PC's own begun (a history restored from an older copy).
void tellForwarded(const pp::history::ForwardResult& r, std::ostream& err);

} // namespace pp::cli
