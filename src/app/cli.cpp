// The command line's arguments: parsing, the check that an option goes with its command, and
// the usage text, all walking the tables of cli_options.cpp, where every option is described
// once.
#include "cli.h"

#include "app/cli_options.h"
#include "link/mode.h"

#include <algorithm>

namespace pp::cli {

namespace {

// What the usage shows of this system's ports and files.
#ifdef _WIN32
constexpr const char* ExampleDevice = "COM12";
constexpr const char* HistoryDefault = "        %LOCALAPPDATA%\\ParamPorter\\history.sqlite)\n";
#else
constexpr const char* ExampleDevice = "/dev/ttyUSB0";
constexpr const char* HistoryDefault = "        $XDG_DATA_HOME/paramporter/history.sqlite or\n"
                                       "        ~/.local/share/paramporter/history.sqlite)\n";
#endif

Options only(Command command) {
    Options o;
    o.command = command;
    return o;
}

ParseResult fail(std::string message) {
    return {std::nullopt, std::move(message)};
}

std::optional<std::string> checkHistory(Options& o, const std::vector<std::string>& positional) {
    if (o.diffFirst) {
        const auto n = entryId(positional[1]);
        if (!n)
            return "--diff " + positional[1] + ": an entry ID (1, 2, ...) expected";
        o.diffSecond = *n;
    }
    const bool marking = o.approveId != 0 || o.revoke;
    const int modes = int(o.verifyHistory) + int(o.exportId != 0) + int(o.diffFirst != 0) +
                      int(o.push) + int(o.forwardStatus) + int(o.approveId != 0) + int(o.revoke);
    if (modes > 1)
        return std::string(o.push || o.forwardStatus || marking
                               ? "history takes one of --verify, --export, --diff, --approve, "
                                 "--revoke, --push and --status"
                               : "history takes one of --verify, --export and --diff");
    if (!marking && (!o.meaning.empty() || !o.reason.empty() || !o.scope.empty()))
        return std::string("--meaning, --reason and --scope go with --approve or --revoke");
    if (!marking && !o.login.empty())
        return std::string("--login goes with --approve or --revoke (the approver's own)");
    if (o.approveId) {
        if (!o.scope.empty())
            return std::string("--scope goes with --revoke (an approval takes its entry's)");
        if (o.meaning.empty() || o.reason.empty())
            return std::string(
                "history --approve needs --meaning approved|reviewed and --reason TEXT");
    }
    if (o.revoke) {
        if (!o.meaning.empty())
            return std::string("--meaning goes with --approve");
        if (o.serial.empty() || o.scope.empty() || o.reason.empty())
            return std::string(
                "history --revoke needs --serial SN, --scope system|part and --reason TEXT");
        if ((o.scope == "part") != !o.part.empty())
            return std::string(o.part.empty() ? "history --revoke --scope part needs --part PP"
                                              : "--part goes with --scope part");
    }
    // --serial and --part name what --revoke ends.
    const bool listing = (!o.revoke && (!o.serial.empty() || !o.part.empty())) ||
                         !o.action.empty() || o.limit != 0 || o.json || !o.host.empty();
    if (modes == 1 && listing)
        return std::string(o.host.empty() ? "--serial, --part, --action, --limit and --json only "
                                            "go with the listing"
                                          : "--host only goes with the listing");
    if (!o.host.empty() && o.server.empty())
        return std::string("--host only goes with --server");
    // The queue is this PC's: it goes to the server entries are forwarded to.
    if ((o.push || o.forwardStatus) && !o.server.empty())
        return std::string("--push and --status use --history-server, not --server");
    if (o.exportId && o.file.empty())
        return std::string("history --export needs -o FILE");
    if (!o.exportId && !o.file.empty())
        return std::string("option -o only goes with history --export");
    return std::nullopt;
}

// What each command needs of its positional arguments and of its options together.
std::optional<std::string> checkCommand(Options& o, const std::vector<std::string>& positional) {
    switch (o.command) {
    case Command::Read: {
        const auto pn = partNumberText(positional[1]);
        if (!pn)
            return "part number " + positional[1] + ": 1..32 expected";
        o.part = *pn;
        if (o.file.empty())
            return std::string("read needs -o FILE");
        break;
    }
    case Command::Write:
        if (positional[1].empty())
            return std::string("write needs a file");
        o.file = positional[1];
        if (o.partOnly && o.systemOnly)
            return std::string("write takes one of --part-only and --system-only");
        break;
    case Command::Mode:
        if (positional.size() > 1) {
            o.mode = pp::modeDigit(positional[1]);
            if (!o.mode)
                return "mode " + positional[1] + ": SETUP, CALIBRATE, RUN or DATA expected";
        }
        break;
    case Command::Diff:
        if (positional[1].empty() || positional[2].empty())
            return std::string("diff needs two files");
        o.file = positional[1];
        o.file2 = positional[2];
        break;
    case Command::Verify:
        if (positional[1].empty())
            return std::string("verify needs a file");
        o.file = positional[1];
        break;
    case Command::Report:
        if (positional[1].empty())
            return std::string("report needs a file");
        // -o is the file to write, the positional the file to read.
        o.output = o.file;
        o.file = positional[1];
        break;
    case Command::Backup:
        if (o.dir.empty())
            return std::string("backup needs --dir DIR");
        break;
    case Command::Audit:
        if (o.report.empty() && (!o.from.empty() || !o.to.empty()))
            return std::string("--from and --to go with --report");
        if (!o.report.empty() && o.json)
            return std::string("audit takes one of --json and --report");
        if (!o.from.empty() && !o.to.empty() && o.from > o.to)
            return "--from " + o.from + " is after --to " + o.to;
        break;
    case Command::Plant:
        if (o.registerPc.empty() || o.login.empty())
            return std::string("plant needs --register-pc HOST --login LOGIN");
        break;
    case Command::Round:
        if (o.ports.empty())
            return std::string("round needs --ports, e.g. --ports 1,2,") + ExampleDevice;
        break;
    case Command::History:
        return checkHistory(o, positional);
    default:
        break;
    }
    return std::nullopt;
}

// How a command's options read in its synopsis: "[--convert yes|no]".
std::string optionsOf(Command command) {
    std::string out;
    for (const OptionRow& o : options()) {
        if (!(o.commands & bit(command)) || o.commands == Every || o.commands == AtInstrument)
            continue;
        out +=
            " [" + std::string(o.name) + (o.value.empty() ? "" : " " + std::string(o.value)) + "]";
    }
    return out;
}

// Words of `text` on lines of at most `width` characters, the first after `indent`, the
// others four further in. A bracketed option stays on one line.
std::string wrapped(const std::string& text, size_t indent, size_t width) {
    std::string out;
    std::string line;
    size_t start = 0;
    size_t at = indent;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end != std::string::npos && text[start] == '[')
            end = text.find(']', start) + 1;
        if (end == std::string::npos || end > text.size())
            end = text.size();
        const std::string w = text.substr(start, end - start);
        if (!line.empty() && at + line.size() + 1 + w.size() > width) {
            out += std::string(at, ' ') + line + '\n';
            line.clear();
            at = indent + 4;
        }
        line += (line.empty() ? "" : " ") + w;
        start = end + 1;
    }
    if (!line.empty())
        out += std::string(at, ' ') + line + '\n';
    return out;
}

} // namespace

std::optional<std::string> partNumberText(std::string_view text) {
    if (text.size() > 2 || !allDigits(text))
        return std::nullopt;
    const int n = std::stoi(std::string(text));
    if (n < 1 || n > 32)
        return std::nullopt;
    return std::string(n < 10 ? "0" : "") + std::to_string(n);
}

ParseResult parseArguments(const std::vector<std::string>& args) {
    // --help and --version answer whatever else was given.
    for (const std::string& a : args) {
        if (a == "--")
            break;
        if (a == "--help" || a == "-h")
            return {only(Command::Help), {}};
    }
    for (const std::string& a : args) {
        if (a == "--")
            break;
        if (a == "--version")
            return {only(Command::Version), {}};
    }

    std::vector<std::string> positional;
    std::vector<std::pair<const OptionRow*, std::string>> values;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = a;
        std::optional<std::string> value;
        if (const size_t eq = a.find('='); a.starts_with("--") && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        }
        const OptionRow* row = optionNamed(name);
        if (!row || !row->apply)
            return fail("unknown option " + name);
        if (row->value.empty()) {
            if (value)
                return fail("option " + name + " takes no value");
            value = std::string();
        } else if (!value) {
            if (i + 1 >= args.size())
                return fail("option " + name + " needs a value");
            value = args[++i];
        }
        for (const auto& [given, v] : values)
            if (given == row)
                return fail("option " + name + " given twice");
        values.emplace_back(row, *value);
    }

    if (positional.empty())
        return fail("no command given");
    const CommandRow* command = commandNamed(positional[0]);
    if (!command)
        return fail("unknown command " + positional[0]);
    Options o;
    o.command = command->command;
    size_t expected = command->positional;
    if (o.command == Command::Mode && positional.size() > 1)
        expected = 2;
    for (const auto& [row, value] : values)
        if (o.command == Command::History && row->name == "--diff")
            expected = 2; // --diff ID1 ID2
    if (positional.size() > expected)
        return fail("too many arguments for " + positional[0] + ": " + positional[expected]);
    if (positional.size() < expected)
        return fail(std::string(command->missing));

    for (const auto& [row, value] : values) {
        const std::string name(row->name);
        if (!(row->commands & bit(o.command)))
            return fail("option " + name + " does not go with " + positional[0]);
        if (const auto error = row->apply(o, value, name))
            return fail(*error);
    }
    if (const auto error = checkCommand(o, positional))
        return fail(*error);
    return {o, {}};
}

bool wantsPdf(const Options& options) {
    const std::string& out = options.command == Command::Report  ? options.output
                             : options.command == Command::Audit ? options.report
                                                                 : std::string();
    return out.size() >= 4 && upper(std::string_view(out).substr(out.size() - 4)) == ".PDF";
}

std::string usageText() {
    std::string out =
        std::string("Usage: paramporter-cli [--port PORT] [--history FILE] [--history-server URI] "
                    "COMMAND [ARGS]\n"
                    "\n"
                    "Reads and writes the parameters of a QX7400 leak tester over its serial "
                    "port.\n"
                    "\n"
                    "  PORT: a COMM number 1..5, or a device path such as ") +
        ExampleDevice +
        "\n"
        "        (default: the port number in the settings file RIGPREFS.DAT)\n"
        "  FILE: the history of every transfer (default: $PARAMPORTER_HISTORY, else\n" +
        HistoryDefault +
        "  URI:  the plant's history server, a PostgreSQL connection URI such as\n"
        "        postgresql://line_pc@plant-db/paramporter, that every recorded transfer is\n"
        "        forwarded to (default: $PARAMPORTER_HISTORY_SERVER, else the window's\n"
        "        SetUp > History Server...); passwords from ~/.pgpass or PGPASSWORD\n"
        "\n"
        "Commands:\n";
    for (const CommandRow& c : commands()) {
        std::string synopsis = std::string(c.name);
        if (!c.synopsis.empty())
            synopsis += " " + std::string(c.synopsis);
        synopsis += optionsOf(c.command);
        out += wrapped(synopsis, 2, 80);
        std::string_view help = c.help;
        for (size_t start = 0; start < help.size();) {
            const size_t end = help.find('\n', start);
            out += std::string(33, ' ') + std::string(help.substr(start, end - start)) + '\n';
            start = end + 1;
        }
    }
    out += "  --help, --version\n\nOptions:\n";
    for (const OptionRow& o : options()) {
        std::string names = std::string(o.name);
        if (!o.alias.empty())
            names += ", " + std::string(o.alias);
        if (!o.value.empty())
            names += " " + std::string(o.value);
        std::string line = "  " + names;
        line += std::string(line.size() < 33 ? 33 - line.size() : 1, ' ') + std::string(o.help);
        out += line + '\n';
    }
    out += "\n"
           "Exit status: 0 success, 1 an exchange with the QX7400 failed (or history --push "
           "could\n"
           "not forward everything), 2 usage or file error (or an unknown entry ID, an approval\n"
           "or revocation refused, or a history server that cannot be read), 3 diff, verify or\n"
           "history --diff found differences, audit or round something that deviates from its\n"
           "approved values or is stale, 4 an entry of the history does not match its hash.\n";
    return out;
}

} // namespace pp::cli
