// The command line's argument parser on any argument list (the input split at NUL bytes).
//
// Checks: every list gives either options or a one-line error, never both or neither; the
// options a command gets are complete and within their ranges; and options written back as
// an argument list parse to the same options.
#include "app/cli.h"
#include "fuzz_support.h"
#include "link/mode.h"

#include <algorithm>

using namespace pp;
using namespace pp::fuzz;
using namespace pp::cli;

namespace {

// The options as an argument list that asks for exactly them; nothing for a command this
// target does not know yet.
std::optional<std::vector<std::string>> render(const Options& o) {
    std::vector<std::string> args;
    if (o.portNumber)
        args.push_back("--port=" + std::to_string(o.portNumber));
    else if (!o.portDevice.empty())
        args.push_back("--port=" + o.portDevice);
    if (!o.history.empty())
        args.push_back("--history=" + o.history);
    if (!o.historyServer.empty())
        args.push_back("--history-server=" + o.historyServer);
    switch (o.command) {
    case Command::Help:
        args.push_back("--help");
        break;
    case Command::Version:
        args.push_back("--version");
        break;
    case Command::Read:
        args.insert(args.end(), {"-o", o.file, "read", o.part});
        break;
    case Command::Write:
        if (o.convert)
            args.push_back(*o.convert ? "--convert=yes" : "--convert=no");
        if (o.partOnly)
            args.push_back("--part-only");
        if (o.systemOnly)
            args.push_back("--system-only");
        if (o.anyInstrument)
            args.push_back("--any-instrument");
        if (!o.reason.empty())
            args.push_back("--reason=" + o.reason);
        args.insert(args.end(), {"write", "--", o.file});
        break;
    case Command::Mode:
        args.push_back("mode");
        if (o.mode)
            args.emplace_back(pp::modeName(*o.mode));
        break;
    case Command::Parts:
        args.push_back("parts");
        break;
    case Command::Backup:
        args.insert(args.end(), {"backup", "--dir", o.dir});
        break;
    case Command::Diff:
        args.insert(args.end(), {"diff", "--", o.file, o.file2});
        break;
    case Command::Verify:
        args.insert(args.end(), {"verify", "--", o.file});
        break;
    case Command::Report:
        if (o.convert)
            args.push_back(*o.convert ? "--convert=YES" : "--convert=No");
        if (!o.output.empty())
            args.insert(args.end(), {"--output", o.output});
        args.insert(args.end(), {"report", "--", o.file});
        break;
    case Command::History:
        args.push_back("history");
        if (!o.serial.empty())
            args.push_back("--serial=" + o.serial);
        if (!o.part.empty())
            args.push_back("--part=" + o.part);
        if (!o.action.empty())
            args.push_back("--action=" + o.action);
        if (o.limit)
            args.push_back("--limit=" + std::to_string(o.limit));
        if (o.json)
            args.push_back("--json");
        if (o.push)
            args.push_back("--push");
        if (o.forwardStatus)
            args.push_back("--status");
        if (!o.server.empty())
            args.push_back("--server=" + o.server);
        if (!o.host.empty())
            args.push_back("--host=" + o.host);
        if (o.verifyHistory)
            args.push_back("--verify");
        if (o.exportId)
            args.insert(args.end(),
                        {"--export=" + std::to_string(o.exportId), "--output=" + o.file});
        if (o.approveId)
            args.push_back("--approve=" + std::to_string(o.approveId));
        if (o.revoke)
            args.push_back("--revoke");
        if (!o.meaning.empty())
            args.push_back("--meaning=" + o.meaning);
        if (!o.scope.empty())
            args.push_back("--scope=" + o.scope);
        if (!o.reason.empty())
            args.push_back("--reason=" + o.reason);
        if (!o.login.empty())
            args.push_back("--login=" + o.login);
        if (o.diffFirst)
            args.insert(args.end(), {"--diff=" + std::to_string(o.diffFirst), "--",
                                     std::to_string(o.diffSecond)});
        break;
    default:
        return std::nullopt;
    }
    return args;
}

void checkOptions(const Options& o) {
    PP_CHECK(o.portNumber >= 0 && o.portNumber <= 5);
    PP_CHECK(!(o.portNumber && !o.portDevice.empty()), "both a number and a device");
    switch (o.command) {
    case Command::Read:
        PP_CHECK(o.part.size() == 2 && std::stoi(o.part) >= 1 && std::stoi(o.part) <= 32);
        PP_CHECK(!o.file.empty());
        break;
    case Command::Write:
        PP_CHECK(!o.file.empty());
        break;
    case Command::Mode:
        PP_CHECK(!o.mode || (*o.mode >= '0' && *o.mode <= '3'));
        break;
    case Command::Backup:
        PP_CHECK(!o.dir.empty());
        break;
    case Command::Diff:
        PP_CHECK(!o.file.empty() && !o.file2.empty());
        PP_CHECK(!o.portNumber && o.portDevice.empty(), "a port for two files");
        break;
    case Command::Verify:
        PP_CHECK(!o.file.empty());
        break;
    case Command::Report:
        PP_CHECK(!o.file.empty());
        PP_CHECK(!o.portNumber && o.portDevice.empty(), "a port for a file");
        break;
    case Command::History: {
        PP_CHECK(!o.portNumber && o.portDevice.empty(), "a port for the history");
        const int modes = int(o.verifyHistory) + int(o.exportId > 0) + int(o.diffFirst > 0);
        PP_CHECK(modes <= 1, "two history commands at once");
        const bool listing =
            !o.serial.empty() || !o.part.empty() || !o.action.empty() || o.limit || o.json;
        PP_CHECK(!(modes && listing), "listing options with another history command");
        PP_CHECK(o.part.empty() ||
                 (o.part.size() == 2 && std::stoi(o.part) >= 1 && std::stoi(o.part) <= 32));
        PP_CHECK(o.action.empty() || o.action == "upload" || o.action == "download");
        PP_CHECK(o.limit >= 0 && o.exportId >= 0);
        PP_CHECK(!o.exportId == o.file.empty(), "--export without -o, or -o without --export");
        PP_CHECK(!o.diffFirst == !o.diffSecond && o.diffSecond >= 0);
        break;
    }
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    size_t start = 0;
    while (start <= all.size() && args.size() < 32) {
        const size_t nul = all.find('\0', start);
        const size_t end = nul == std::string_view::npos ? all.size() : nul;
        args.emplace_back(all.substr(start, end - start));
        start = end + 1;
    }

    const ParseResult r = parseArguments(args);
    PP_CHECK(r.options.has_value() != !r.error.empty(), "options and error together, or neither");
    if (!r.options) {
        // One line, unless an argument it quotes brought a line end along.
        const bool argHasLineEnd = std::any_of(args.begin(), args.end(), [](const auto& a) {
            return a.find('\n') != std::string::npos;
        });
        PP_CHECK(argHasLineEnd || r.error.find('\n') == std::string::npos, "a multi-line error");
        return 0;
    }
    checkOptions(*r.options);

    const auto args2 = render(*r.options);
    if (!args2)
        return 0;
    const ParseResult again = parseArguments(*args2);
    if (!again.options)
        fail("written-back options are refused:", again.error);
    if (!(*again.options == *r.options))
        fail("written-back options parse differently");
    return 0;
}
