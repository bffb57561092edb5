// paramporter-cli's dispatcher: one parsed command to the unit that runs it.
#include "app/cli_commands.h"

#include "app/cli_audit.h"
#include "app/cli_files.h"
#include "app/cli_history.h"
#include "app/cli_instrument.h"
#include "app/cli_rounds.h"
#include "app/cli_session.h"

#include "history/pg_connection.h"
#include "version.h"

#include <ostream>

namespace pp::cli {

namespace {

int runOnSession(const Options& options, Context& context) {
    CliSession session(options, context);
    // Files need no port; a round takes its own.
    if (options.command != Command::Diff && options.command != Command::Report &&
        options.command != Command::Round)
        session.choosePort();
    int code = ExitUsage;
    switch (options.command) {
    case Command::Read:
        code = readCommand(session);
        break;
    case Command::Write:
        code = writeCommand(session);
        break;
    case Command::Mode:
        code = modeCommand(session);
        break;
    case Command::Parts:
        code = partsCommand(session);
        break;
    case Command::Verify:
        code = verifyCommand(session);
        break;
    case Command::Diff:
        code = diffCommand(session);
        break;
    case Command::Report:
        code = reportCommand(session);
        break;
    case Command::Backup:
        code = backupCommand(session);
        break;
    case Command::Round:
        code = roundCommand(session);
        break;
    default:
        break;
    }
    // After the command's own words; the transfers are over whatever the server does.
    session.forwardRecorded();
    return code;
}

} // namespace

int run(const Options& options, Context& context) {
    switch (options.command) {
    case Command::Help:
        context.out << usageText() << std::flush;
        return ExitOk;
    case Command::Version:
        context.out << PP_VERSION << '\n' << std::flush;
        return ExitOk;
    default:
        break;
    }
    // --history-server wins over the environment and the window's setting. Comparing or
    // printing files records nothing: a server they would never use does not stop them.
    if (!options.historyServer.empty())
        context.historyServer = options.historyServer;
    const bool filesOnly = options.command == Command::Diff || options.command == Command::Report;
    if (filesOnly)
        context.historyServer.clear();
    for (const auto& [name, uri] : {std::pair{"history server URI", context.historyServer},
                                    std::pair{"--server", options.server}}) {
        if (uri.empty())
            continue;
        if (const auto problem = pp::history::uriProblem(uri)) {
            context.err << Program << name << ": " << *problem << '\n';
            return ExitUsage;
        }
    }
    // Arguments are there for every account of the PC to see (ps).
    for (const auto& [name, uri] : {std::pair{"--history-server", options.historyServer},
                                    std::pair{"--server", options.server}}) {
        if (!uri.empty() && pp::history::uriHasPassword(uri)) {
            context.err << Program << name
                        << ": keep the password in ~/.pgpass (or PGPASSWORD), not in the URI: "
                           "every account of this PC can read a command's arguments\n";
            return ExitUsage;
        }
    }
    const int code = options.command == Command::Plant ? runPlant(options, context)
                     : options.command == Command::History
                         ? runHistory(options, context, historyPath(options, context))
                     : options.command == Command::Audit
                         ? runAudit(options, context, historyPath(options, context))
                         : runOnSession(options, context);
    // A listing or report that did not reach its reader (a full disk, a closed pipe) is no
    // success.
    if (code != ExitUsage && !(context.out << std::flush)) {
        context.err << Program << "standard output cannot be written\n";
        return ExitUsage;
    }
    return code;
}

} // namespace pp::cli
