#include "cli.h"

#include "link/mode.h"

#include <algorithm>
#include <array>
#include <cctype>

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

// YYYY-MM-DD with a month and day that exist in some year.
bool isDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9')
            return false;
    const int month = (text[5] - '0') * 10 + (text[6] - '0');
    const int day = (text[8] - '0') * 10 + (text[9] - '0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string asciiLowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The options that take a value, by every name they answer to.
struct OptionName {
    std::string_view name;
    std::string_view key; // canonical
};
constexpr std::array<OptionName, 26> ValueOptions{{
    {"--port", "--port"},
    {"-o", "-o"},
    {"--output", "-o"},
    {"--convert", "--convert"},
    {"--dir", "--dir"},
    {"--history", "--history"},
    {"--serial", "--serial"},
    {"--part", "--part"},
    {"--action", "--action"},
    {"--limit", "--limit"},
    {"--export", "--export"},
    {"--diff", "--diff"},
    {"--history-server", "--history-server"},
    {"--server", "--server"},
    {"--host", "--host"},
    {"--approve", "--approve"},
    {"--meaning", "--meaning"},
    {"--reason", "--reason"},
    {"--scope", "--scope"},
    {"--stale-days", "--stale-days"},
    {"--report", "--report"},
    {"--from", "--from"},
    {"--to", "--to"},
    {"--ports", "--ports"},
    {"--on-deviation", "--on-deviation"},
    {"--on-failure", "--on-failure"},
}};
// Options without a value.
constexpr std::array<std::string_view, 8> FlagOptions{
    "--json",      "--verify",      "--push",           "--status",
    "--part-only", "--system-only", "--any-instrument", "--revoke"};

std::optional<std::string_view> valueOptionKey(std::string_view name) {
    for (const OptionName& o : ValueOptions)
        if (o.name == name)
            return o.key;
    return std::nullopt;
}

Options only(Command command) {
    Options o;
    o.command = command;
    return o;
}

ParseResult fail(std::string message) {
    return {std::nullopt, std::move(message)};
}

// A history entry ID: 1, 2, ...
std::optional<long long> entryId(std::string_view text) {
    if (!allDigits(text) || text.size() > 18)
        return std::nullopt;
    const long long id = std::stoll(std::string(text));
    return id > 0 ? std::optional<long long>(id) : std::nullopt;
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
    std::vector<std::pair<std::string, std::string>> values; // canonical key, value
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
        if (std::find(FlagOptions.begin(), FlagOptions.end(), name) != FlagOptions.end()) {
            if (value)
                return fail("option " + name + " takes no value");
            for (const auto& [k, v] : values)
                if (k == name)
                    return fail("option " + name + " given twice");
            values.emplace_back(name, std::string());
            continue;
        }
        const auto key = valueOptionKey(name);
        if (!key)
            return fail("unknown option " + name);
        if (!value) {
            if (i + 1 >= args.size())
                return fail("option " + name + " needs a value");
            value = args[++i];
        }
        for (const auto& [k, v] : values)
            if (k == *key)
                return fail("option " + name + " given twice");
        values.emplace_back(std::string(*key), *value);
    }

    if (positional.empty())
        return fail("no command given");

    Options o;
    const std::string& command = positional[0];
    std::vector<std::string_view> allowed{"--port"};
    size_t expectedPositional = 1;
    if (command == "read") {
        o.command = Command::Read;
        allowed.push_back("-o");
        expectedPositional = 2;
    } else if (command == "write") {
        o.command = Command::Write;
        allowed.insert(allowed.end(), {"--convert", "--part-only", "--system-only",
                                       "--any-instrument", "--reason"});
        expectedPositional = 2;
    } else if (command == "mode") {
        o.command = Command::Mode;
        expectedPositional = positional.size() > 1 ? 2 : 1;
    } else if (command == "parts") {
        o.command = Command::Parts;
    } else if (command == "backup") {
        o.command = Command::Backup;
        allowed.push_back("--dir");
    } else if (command == "diff") {
        o.command = Command::Diff;
        allowed.clear(); // two files: no instrument
        expectedPositional = 3;
    } else if (command == "verify") {
        o.command = Command::Verify;
        expectedPositional = 2;
    } else if (command == "report") {
        o.command = Command::Report;
        allowed = {"-o", "--convert"}; // a file: no instrument
        expectedPositional = 2;
    } else if (command == "history") {
        o.command = Command::History;
        allowed = {"--serial", "--part",   "--action", "--limit",   "--json",
                   "--verify", "--export", "--diff",   "-o",        "--server",
                   "--host",   "--push",   "--status", "--approve", "--meaning",
                   "--reason", "--revoke", "--scope"}; // no instrument
        for (const auto& [key, value] : values)
            if (key == "--diff")
                expectedPositional = 2; // --diff ID1 ID2
    } else if (command == "audit") {
        o.command = Command::Audit;
        allowed = {"--server", "--serial", "--stale-days", "--json",
                   "--report", "--from",   "--to"}; // the history: no instrument
    } else if (command == "round") {
        o.command = Command::Round;
        allowed = {"--ports", "--on-deviation", "--on-failure"};
    } else {
        return fail("unknown command " + command);
    }
    allowed.push_back("--history");
    allowed.push_back("--history-server");

    if (positional.size() > expectedPositional)
        return fail("too many arguments for " + command + ": " + positional[expectedPositional]);
    if (positional.size() < expectedPositional)
        return fail(command == "read"      ? "read needs a part number"
                    : command == "diff"    ? "diff needs two files"
                    : command == "history" ? "history --diff needs two entry IDs"
                                           : command + " needs a file");

    for (const auto& [key, value] : values) {
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end())
            return fail("option " + key + " does not go with " + command);
        if (key == "--port") {
            if (value.empty())
                return fail("--port needs a COMM number 1..5 or a device path");
            if (allDigits(value)) {
                const int n = value.size() <= 2 ? std::stoi(value) : 0;
                if (n < 1 || n > 5)
                    return fail("--port " + value + ": COMM numbers are 1..5");
                o.portNumber = n;
            } else {
                o.portDevice = value;
            }
        } else if (key == "-o") {
            if (value.empty())
                return fail("-o needs a file name");
            o.file = value;
        } else if (key == "--convert") {
            const std::string u = upper(value);
            if (u != "YES" && u != "NO")
                return fail("--convert takes yes or no, not " + value);
            o.convert = u == "YES";
        } else if (key == "--dir") {
            if (value.empty())
                return fail("--dir needs a folder");
            o.dir = value;
        } else if (key == "--history") {
            if (value.empty())
                return fail("--history needs a file name");
            o.history = value;
        } else if (key == "--history-server" || key == "--server") {
            if (value.empty())
                return fail(key + " needs a connection URI");
            (key == "--server" ? o.server : o.historyServer) = value;
        } else if (key == "--host") {
            if (value.empty())
                return fail("--host needs a host name");
            o.host = value;
        } else if (key == "--push") {
            o.push = true;
        } else if (key == "--status") {
            o.forwardStatus = true;
        } else if (key == "--serial") {
            if (value.empty())
                return fail("--serial needs a serial number");
            o.serial = value;
        } else if (key == "--part") {
            const auto pn = partNumberText(value);
            if (!pn)
                return fail("--part " + value + ": 1..32 expected");
            o.part = *pn;
        } else if (key == "--action") {
            o.action = asciiLowerCopy(value);
            if (o.action != "upload" && o.action != "download" && o.action != "approve" &&
                o.action != "revoke")
                return fail("--action takes upload, download, approve or revoke, not " + value);
        } else if (key == "--limit") {
            if (!allDigits(value) || value.size() > 9 || std::stoll(value) == 0)
                return fail("--limit " + value + ": a number of entries (1, 2, ...) expected");
            o.limit = std::stoll(value);
        } else if (key == "--part-only") {
            o.partOnly = true;
        } else if (key == "--system-only") {
            o.systemOnly = true;
        } else if (key == "--any-instrument") {
            o.anyInstrument = true;
        } else if (key == "--stale-days") {
            if (!allDigits(value) || value.size() > 5)
                return fail("--stale-days " + value + ": a number of days expected");
            o.staleDays = std::stoi(value);
        } else if (key == "--report") {
            const std::string u = upper(value);
            if (!u.ends_with(".PDF") && !u.ends_with(".CSV"))
                return fail("--report " + value + ": a file ending in .pdf or .csv expected");
            o.report = value;
        } else if (key == "--from" || key == "--to") {
            if (!isDate(value))
                return fail(key + " " + value + ": a date YYYY-MM-DD expected");
            (key == "--from" ? o.from : o.to) = value;
        } else if (key == "--ports") {
            for (size_t start = 0; start <= value.size();) {
                const size_t comma = std::min(value.find(',', start), value.size());
                const std::string port = value.substr(start, comma - start);
                if (port.empty())
                    return fail("--ports " + value + ": a port is missing");
                if (allDigits(port) &&
                    (port.size() > 2 || std::stoi(port) < 1 || std::stoi(port) > 5))
                    return fail("--ports " + value + ": COMM numbers are 1..5");
                o.ports.push_back(port);
                start = comma + 1;
            }
        } else if (key == "--on-deviation" || key == "--on-failure") {
            if (value.empty())
                return fail(key + " needs a command");
            (key == "--on-deviation" ? o.onDeviation : o.onFailure) = value;
        } else if (key == "--json") {
            o.json = true;
        } else if (key == "--verify") {
            o.verifyHistory = true;
        } else if (key == "--revoke") {
            o.revoke = true;
        } else if (key == "--meaning") {
            o.meaning = asciiLowerCopy(value);
            if (o.meaning != "approved" && o.meaning != "reviewed")
                return fail("--meaning takes approved or reviewed, not " + value);
        } else if (key == "--reason") {
            if (value.find_first_not_of(" \t\r\n") == std::string::npos)
                return fail("--reason needs a text");
            o.reason = value;
        } else if (key == "--scope") {
            o.scope = asciiLowerCopy(value);
            if (o.scope != "system" && o.scope != "part")
                return fail("--scope takes system or part, not " + value);
        } else if (key == "--export" || key == "--diff" || key == "--approve") {
            const auto id = entryId(value);
            if (!id)
                return fail(key + " " + value + ": an entry ID (1, 2, ...) expected");
            (key == "--export" ? o.exportId : key == "--diff" ? o.diffFirst : o.approveId) = *id;
        }
    }

    switch (o.command) {
    case Command::Read: {
        const auto pn = partNumberText(positional[1]);
        if (!pn)
            return fail("part number " + positional[1] + ": 1..32 expected");
        o.part = *pn;
        if (o.file.empty())
            return fail("read needs -o FILE");
        break;
    }
    case Command::Write:
        if (positional[1].empty())
            return fail("write needs a file");
        o.file = positional[1];
        if (o.partOnly && o.systemOnly)
            return fail("write takes one of --part-only and --system-only");
        break;
    case Command::Mode:
        if (positional.size() > 1) {
            o.mode = pp::modeDigit(positional[1]);
            if (!o.mode)
                return fail("mode " + positional[1] + ": SETUP, CALIBRATE, RUN or DATA expected");
        }
        break;
    case Command::Diff:
        if (positional[1].empty() || positional[2].empty())
            return fail("diff needs two files");
        o.file = positional[1];
        o.file2 = positional[2];
        break;
    case Command::Verify:
        if (positional[1].empty())
            return fail("verify needs a file");
        o.file = positional[1];
        break;
    case Command::Report:
        if (positional[1].empty())
            return fail("report needs a file");
        // -o is the file to write, the positional the file to read.
        o.output = o.file;
        o.file = positional[1];
        break;
    case Command::Backup:
        if (o.dir.empty())
            return fail("backup needs --dir DIR");
        break;
    case Command::Audit:
        if (o.report.empty() && (!o.from.empty() || !o.to.empty()))
            return fail("--from and --to go with --report");
        if (!o.report.empty() && o.json)
            return fail("audit takes one of --json and --report");
        if (!o.from.empty() && !o.to.empty() && o.from > o.to)
            return fail("--from " + o.from + " is after --to " + o.to);
        break;
    case Command::Round:
        if (o.ports.empty())
            return fail(std::string("round needs --ports, e.g. --ports 1,2,") + ExampleDevice);
        break;
    case Command::History: {
        if (o.diffFirst) {
            const auto id = entryId(positional[1]);
            if (!id)
                return fail("--diff " + positional[1] + ": an entry ID (1, 2, ...) expected");
            o.diffSecond = *id;
        }
        const bool marking = o.approveId != 0 || o.revoke;
        const int modes = int(o.verifyHistory) + int(o.exportId != 0) + int(o.diffFirst != 0) +
                          int(o.push) + int(o.forwardStatus) + int(o.approveId != 0) +
                          int(o.revoke);
        if (modes > 1)
            return fail(o.push || o.forwardStatus || marking
                            ? "history takes one of --verify, --export, --diff, --approve, "
                              "--revoke, --push and --status"
                            : "history takes one of --verify, --export and --diff");
        if (!marking && (!o.meaning.empty() || !o.reason.empty() || !o.scope.empty()))
            return fail("--meaning, --reason and --scope go with --approve or --revoke");
        if (o.approveId) {
            if (!o.scope.empty())
                return fail("--scope goes with --revoke (an approval takes its entry's)");
            if (o.meaning.empty() || o.reason.empty())
                return fail("history --approve needs --meaning approved|reviewed and --reason "
                            "TEXT");
        }
        if (o.revoke) {
            if (!o.meaning.empty())
                return fail("--meaning goes with --approve");
            if (o.serial.empty() || o.scope.empty() || o.reason.empty())
                return fail("history --revoke needs --serial SN, --scope system|part and "
                            "--reason TEXT");
            if ((o.scope == "part") != !o.part.empty())
                return fail(o.part.empty() ? "history --revoke --scope part needs --part PP"
                                           : "--part goes with --scope part");
        }
        // --serial and --part name what --revoke ends.
        const bool listing = (!o.revoke && (!o.serial.empty() || !o.part.empty())) ||
                             !o.action.empty() || o.limit != 0 || o.json || !o.host.empty();
        if (modes == 1 && listing)
            return fail(o.host.empty()
                            ? "--serial, --part, --action, --limit and --json only go with the "
                              "listing"
                            : "--host only goes with the listing");
        if (!o.host.empty() && o.server.empty())
            return fail("--host only goes with --server");
        // The queue is this PC's: it goes to the server entries are forwarded to.
        if ((o.push || o.forwardStatus) && !o.server.empty())
            return fail("--push and --status use --history-server, not --server");
        if (o.exportId && o.file.empty())
            return fail("history --export needs -o FILE");
        if (!o.exportId && !o.file.empty())
            return fail("option -o only goes with history --export");
        break;
    }
    default:
        break;
    }
    return {o, {}};
}

bool wantsPdf(const Options& options) {
    const std::string& out = options.command == Command::Report  ? options.output
                             : options.command == Command::Audit ? options.report
                                                                 : std::string();
    return out.size() >= 4 && upper(std::string_view(out).substr(out.size() - 4)) == ".PDF";
}

std::string usageText() {
    return std::string(
               "Usage: paramporter-cli [--port PORT] [--history FILE] [--history-server URI] "
               "COMMAND [ARGS]\n"
               "\n"
               "Reads and writes the parameters of a QX7400 leak tester over its serial port.\n"
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
           "Commands:\n"
           "  read PART -o FILE              upload the system parameters and those of part\n"
           "                                 number PART (1..32) and save them as a parameter "
           "file\n"
           "  write FILE [--convert yes|no] [--part-only|--system-only] [--any-instrument]\n"
           "             [--reason TEXT]\n"
           "                                 download the file's system parameters, then its part\n"
           "                                 parameters, as the instrument's generation takes "
           "them\n"
           "                                 (a file of the V7.2 or earlier layout goes to a V7.3\n"
           "                                 or later one with --convert yes only); a file from\n"
           "                                 another serial number is refused unless --part-only\n"
           "                                 (its part's settings; the instrument keeps its own\n"
           "                                 calibration) or --any-instrument (everything);\n"
           "                                 --reason TEXT says why (the plant may require it)\n"
           "  mode [SETUP|CALIBRATE|RUN|DATA]\n"
           "                                 print the operating mode, or change it first\n"
           "  parts                          print the configured part numbers\n"
           "  backup --dir DIR               save one parameter file per configured part number\n"
           "  diff FILE1 FILE2               print the parameters whose texts differ between two\n"
           "                                 parameter files, as \"caption: FILE1 -> FILE2\"\n"
           "  verify FILE                    compare the QX7400's system parameters and those of\n"
           "                                 the file's part number with FILE; prints \"caption:\n"
           "                                 file value -> QX7400 value\" for each difference\n"
           "  report FILE [-o OUT] [--convert yes|no]\n"
           "                                 the parameter report of FILE as printed, on standard\n"
           "                                 output or in OUT (a PDF when OUT ends in .pdf); a "
           "file\n"
           "                                 of the V7.2 or earlier layout is reported as it is\n"
           "                                 unless --convert yes is given\n"
           "  history [--serial SN] [--part PP] [--action upload|download|approve|revoke]\n"
           "          [--limit N] [--json]\n"
           "                                 the recorded transfers, newest first, one per line\n"
           "                                 (ID TIME ACTION SCOPE PART SERIAL RESULT), or as "
           "JSON\n"
           "                                 Lines with the parameter file of each\n"
           "  history --verify               check the hash chain of the recorded transfers, and\n"
           "                                 compare it with the history server's copy\n"
           "  history --export ID -o FILE    write entry ID as a parameter file\n"
           "  history --diff ID1 ID2         print the parameters whose texts differ between two\n"
           "                                 entries, as diff does\n"
           "  history --approve ID --meaning approved|reviewed --reason TEXT\n"
           "                                 record that the values of entry ID (a successful\n"
           "                                 upload or download; with --server URI an entry of\n"
           "                                 the plant) are what its instrument should hold\n"
           "  history --revoke --serial SN --scope system|part [--part PP] --reason TEXT\n"
           "                                 end the approval in force for that instrument and\n"
           "                                 scope (with --server URI: the plant's)\n"
           "  history --push                 forward every entry not yet on the history server\n"
           "  history --status               how many entries wait to be forwarded, and why\n"
           "  history --server URI [--serial SN] [--part PP] [--action ACTION]\n"
           "          [--host H] [--limit N] [--json]\n"
           "                                 the plant's entries on that server, from every PC;\n"
           "                                 --verify, --export ID -o FILE and --diff ID1 ID2\n"
           "                                 work there too, on the server's entry IDs\n"
           "  audit [--server URI] [--serial SN] [--stale-days N] [--json]\n"
           "                                 for every instrument and scope seen: approved or "
           "not,\n"
           "                                 whether its latest upload holds the approved values\n"
           "                                 (what differs), its last contact and whether that is\n"
           "                                 older than N days\n"
           "  audit --report FILE.pdf|FILE.csv [--from DATE] [--to DATE] [--server URI] [--serial "
           "SN]\n"
           "                                 an auditor's report: every entry of the period, the\n"
           "                                 approvals with their meaning, the chain check\n"
           "  round --ports 1,2," +
           ExampleDevice +
           " [--on-deviation CMD] [--on-failure CMD]\n"
           "                                 for each port: the system parameters and every\n"
           "                                 configured part number read, recorded and audited;\n"
           "                                 CMD runs once per round with a JSON summary on its\n"
           "                                 standard input\n"
           "  --help, --version\n"
           "\n"
           "Exit status: 0 success, 1 an exchange with the QX7400 failed (or history --push could\n"
           "not forward everything), 2 usage or file error (or an unknown entry ID, an approval\n"
           "or revocation refused, or a history server that cannot be read), 3 diff, verify or\n"
           "history --diff found differences, audit or round something that deviates from its\n"
           "approved values or is stale, 4 an entry of the history does not match its hash.\n";
}

} // namespace pp::cli
