// The command line's arguments: every option described once, in the table below (its names,
// the value it takes, the commands it goes with, how its value is read, what --help says of
// it); parsing, the check that an option goes with its command, and the usage text all walk it.
#include "cli.h"

#include "history/entry.h"
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

// A history entry ID: 1, 2, ...
std::optional<long long> entryId(std::string_view text) {
    if (!allDigits(text) || text.size() > 18)
        return std::nullopt;
    const long long id = std::stoll(std::string(text));
    return id > 0 ? std::optional<long long>(id) : std::nullopt;
}

// ---------------------------------------------------------------- the commands

constexpr unsigned bit(Command c) {
    return 1u << static_cast<unsigned>(c);
}
constexpr unsigned AtInstrument = bit(Command::Read) | bit(Command::Write) | bit(Command::Mode) |
                                  bit(Command::Parts) | bit(Command::Backup) | bit(Command::Verify);
constexpr unsigned Every = AtInstrument | bit(Command::Diff) | bit(Command::Report) |
                           bit(Command::History) | bit(Command::Audit) | bit(Command::Round);

struct CommandSpec {
    std::string_view name;
    Command command;
    size_t positional;         // the command's word included
    std::string_view missing;  // what a missing positional argument is told
    std::string_view synopsis; // after the name, before the options
    std::string_view help;     // the lines under it, each already indented
};

constexpr std::array<CommandSpec, 11> Commands{{
    {"read", Command::Read, 2, "read needs a part number", "PART",
     "upload the system parameters and those of part\n"
     "number PART (1..32) and save them as a parameter file\n"},
    {"write", Command::Write, 2, "write needs a file", "FILE",
     "download the file's system parameters, then its part\n"
     "parameters, as the instrument's generation takes them\n"
     "(a file of the V7.2 or earlier layout goes to a V7.3\n"
     "or later one with --convert yes only); a file from\n"
     "another serial number is refused unless --part-only\n"
     "(its part's settings; the instrument keeps its own\n"
     "calibration) or --any-instrument (everything);\n"
     "--reason TEXT says why (the plant may require it)\n"},
    {"mode", Command::Mode, 1, "", "[SETUP|CALIBRATE|RUN|DATA]",
     "print the operating mode, or change it first\n"},
    {"parts", Command::Parts, 1, "", "", "print the configured part numbers\n"},
    {"backup", Command::Backup, 1, "", "", "save one parameter file per configured part number\n"},
    {"diff", Command::Diff, 3, "diff needs two files", "FILE1 FILE2",
     "print the parameters whose texts differ between two\n"
     "parameter files, as \"caption: FILE1 -> FILE2\"\n"},
    {"verify", Command::Verify, 2, "verify needs a file", "FILE",
     "compare the QX7400's system parameters and those of\n"
     "the file's part number with FILE; prints \"caption:\n"
     "file value -> QX7400 value\" for each difference\n"},
    {"report", Command::Report, 2, "report needs a file", "FILE",
     "the parameter report of FILE as printed, on standard\n"
     "output or in OUT (a PDF when OUT ends in .pdf); a file\n"
     "of the V7.2 or earlier layout is reported as it is\n"
     "unless --convert yes is given\n"},
    {"history", Command::History, 1, "history --diff needs two entry IDs", "",
     "the recorded transfers, newest first, one per line\n"
     "(ID TIME ACTION SCOPE PART SERIAL RESULT), or as JSON\n"
     "Lines with the parameter file of each (--json); or one of:\n"
     "--verify: check the hash chain, and compare it with\n"
     "  the history server's copy\n"
     "--export ID -o FILE: entry ID as a parameter file\n"
     "--diff ID1 ID2: the parameters whose texts differ\n"
     "  between two entries, as diff prints them\n"
     "--approve ID --meaning approved|reviewed --reason TEXT:\n"
     "  the values of entry ID (a successful upload or\n"
     "  download) are what its instrument should hold\n"
     "--revoke --serial SN --scope system|part [--part PP]\n"
     "  --reason TEXT: end the approval in force\n"
     "--push: forward every entry not yet on the server\n"
     "--status: how many entries wait to be forwarded\n"
     "--server URI: the plant's entries, from every PC; the\n"
     "  listing, --verify, --export, --diff, --approve and\n"
     "  --revoke work there too, on the server's IDs\n"},
    {"audit", Command::Audit, 1, "", "",
     "for every instrument and scope seen: approved or not,\n"
     "whether its latest upload holds the approved values\n"
     "(what differs), its last contact and whether that is\n"
     "older than N days; with --report an auditor's report\n"
     "of the period: every entry, the approvals with their\n"
     "meaning, the chain check\n"},
    {"round", Command::Round, 1, "", "",
     "for each port: the system parameters and every\n"
     "configured part number read, recorded and audited;\n"
     "CMD runs once per round with a JSON summary on its\n"
     "standard input\n"},
}};

const CommandSpec* commandNamed(std::string_view name) {
    for (const CommandSpec& c : Commands)
        if (c.name == name)
            return &c;
    return nullptr;
}

// ---------------------------------------------------------------- the options

// Reads an option's value into the options; the error when it is no value of that option.
using Apply = std::optional<std::string> (*)(Options& o, const std::string& value,
                                             const std::string& name);

struct OptionSpec {
    std::string_view name;
    std::string_view alias; // another name it answers to
    std::string_view value; // what it takes, as the usage names it; empty: a flag
    unsigned commands;      // those it goes with
    Apply apply;
    std::string_view help;
};

std::optional<std::string> port(Options& o, const std::string& value, const std::string&) {
    if (value.empty())
        return "--port needs a COMM number 1..5 or a device path";
    if (!allDigits(value)) {
        o.portDevice = value;
        return std::nullopt;
    }
    const int n = value.size() <= 2 ? std::stoi(value) : 0;
    if (n < 1 || n > 5)
        return "--port " + value + ": COMM numbers are 1..5";
    o.portNumber = n;
    return std::nullopt;
}

// A text that must not be empty.
template <std::string Options::*Field>
std::optional<std::string> nonEmpty(Options& o, const std::string& value, const std::string& name) {
    if (value.empty())
        return name == "-o"               ? std::string("-o needs a file name")
               : name == "--dir"          ? std::string("--dir needs a folder")
               : name == "--history"      ? std::string("--history needs a file name")
               : name == "--host"         ? std::string("--host needs a host name")
               : name == "--serial"       ? std::string("--serial needs a serial number")
               : name.ends_with("server") ? name + " needs a connection URI"
                                          : name + " needs a command";
    o.*Field = value;
    return std::nullopt;
}

template <bool Options::*Field>
std::optional<std::string> flag(Options& o, const std::string&, const std::string&) {
    o.*Field = true;
    return std::nullopt;
}

// One of a few words, in any case, kept in lower case.
template <std::string Options::*Field>
std::optional<std::string> word(Options& o, const std::string& value, const std::string& name) {
    const std::string w = asciiLowerCopy(value);
    if (name == "--action") {
        if (!pp::history::actionFromWord(w))
            return "--action takes upload, download, approve or revoke, not " + value;
    } else if (name == "--meaning") {
        if (w != "approved" && w != "reviewed")
            return "--meaning takes approved or reviewed, not " + value;
    } else if (!pp::history::scopeFromWord(w)) {
        return "--scope takes system or part, not " + value;
    }
    o.*Field = w;
    return std::nullopt;
}

template <long long Options::*Field>
std::optional<std::string> id(Options& o, const std::string& value, const std::string& name) {
    const auto n = entryId(value);
    if (!n)
        return name + " " + value + ": an entry ID (1, 2, ...) expected";
    o.*Field = *n;
    return std::nullopt;
}

template <std::string Options::*Field>
std::optional<std::string> date(Options& o, const std::string& value, const std::string& name) {
    if (!isDate(value))
        return name + " " + value + ": a date YYYY-MM-DD expected";
    o.*Field = value;
    return std::nullopt;
}

std::optional<std::string> convert(Options& o, const std::string& value, const std::string&) {
    const std::string u = upper(value);
    if (u != "YES" && u != "NO")
        return "--convert takes yes or no, not " + value;
    o.convert = u == "YES";
    return std::nullopt;
}

std::optional<std::string> part(Options& o, const std::string& value, const std::string&) {
    const auto pn = partNumberText(value);
    if (!pn)
        return "--part " + value + ": 1..32 expected";
    o.part = *pn;
    return std::nullopt;
}

std::optional<std::string> limit(Options& o, const std::string& value, const std::string&) {
    if (!allDigits(value) || value.size() > 9 || std::stoll(value) == 0)
        return "--limit " + value + ": a number of entries (1, 2, ...) expected";
    o.limit = std::stoll(value);
    return std::nullopt;
}

std::optional<std::string> staleDays(Options& o, const std::string& value, const std::string&) {
    if (!allDigits(value) || value.size() > 5)
        return "--stale-days " + value + ": a number of days expected";
    o.staleDays = std::stoi(value);
    return std::nullopt;
}

std::optional<std::string> report(Options& o, const std::string& value, const std::string&) {
    const std::string u = upper(value);
    if (!u.ends_with(".PDF") && !u.ends_with(".CSV"))
        return "--report " + value + ": a file ending in .pdf or .csv expected";
    o.report = value;
    return std::nullopt;
}

std::optional<std::string> reason(Options& o, const std::string& value, const std::string&) {
    if (value.find_first_not_of(" \t\r\n") == std::string::npos)
        return std::string("--reason needs a text");
    o.reason = value;
    return std::nullopt;
}

std::optional<std::string> ports(Options& o, const std::string& value, const std::string&) {
    for (size_t start = 0; start <= value.size();) {
        const size_t comma = std::min(value.find(',', start), value.size());
        const std::string p = value.substr(start, comma - start);
        if (p.empty())
            return "--ports " + value + ": a port is missing";
        if (allDigits(p) && (p.size() > 2 || std::stoi(p) < 1 || std::stoi(p) > 5))
            return "--ports " + value + ": COMM numbers are 1..5";
        o.ports.push_back(p);
        start = comma + 1;
    }
    return std::nullopt;
}

constexpr unsigned History = bit(Command::History);
constexpr unsigned Audit = bit(Command::Audit);
constexpr unsigned Write = bit(Command::Write);

constexpr std::array<OptionSpec, 34> Table{{
    {"--port", "", "PORT", AtInstrument, port, "the instrument's port"},
    {"--history", "", "FILE", Every, nonEmpty<&Options::history>, "the history of this run"},
    {"--history-server", "", "URI", Every, nonEmpty<&Options::historyServer>,
     "where recorded entries are forwarded"},
    {"-o", "--output", "FILE", bit(Command::Read) | bit(Command::Report) | History,
     nonEmpty<&Options::file>, "the file written"},
    {"--convert", "", "yes|no", Write | bit(Command::Report), convert,
     "a file of the V7.2 or earlier layout converted, or not"},
    {"--part-only", "", "", Write, flag<&Options::partOnly>, "the part download alone"},
    {"--system-only", "", "", Write, flag<&Options::systemOnly>, "the system download alone"},
    {"--any-instrument", "", "", Write, flag<&Options::anyInstrument>,
     "whatever the instrument's serial number, identity included"},
    {"--reason", "", "TEXT", Write | History, reason, "why (a download, an approval)"},
    {"--dir", "", "DIR", bit(Command::Backup), nonEmpty<&Options::dir>, "the folder of the files"},
    {"--serial", "", "SN", History | Audit, nonEmpty<&Options::serial>, "one instrument"},
    {"--part", "", "PP", History, part, "one part number"},
    {"--action", "", "ACTION", History, word<&Options::action>,
     "upload, download, approve or revoke"},
    {"--limit", "", "N", History, limit, "the newest N entries"},
    {"--json", "", "", History | Audit, flag<&Options::json>, "JSON Lines"},
    {"--verify", "", "", History, flag<&Options::verifyHistory>, "check the hash chain"},
    {"--export", "", "ID", History, id<&Options::exportId>, "one entry as a parameter file"},
    {"--diff", "", "ID1", History, id<&Options::diffFirst>, "two entries compared"},
    {"--server", "", "URI", History | Audit, nonEmpty<&Options::server>, "the plant's entries"},
    {"--host", "", "H", History, nonEmpty<&Options::host>, "one PC's entries on the server"},
    {"--push", "", "", History, flag<&Options::push>, "forward what is queued"},
    {"--status", "", "", History, flag<&Options::forwardStatus>, "what is queued, and why"},
    {"--approve", "", "ID", History, id<&Options::approveId>, "approve an entry"},
    {"--meaning", "", "approved|reviewed", History, word<&Options::meaning>,
     "what an approval means"},
    {"--revoke", "", "", History, flag<&Options::revoke>, "end the approval in force"},
    {"--scope", "", "system|part", History, word<&Options::scope>, "what a revocation ends"},
    {"--stale-days", "", "N", Audit, staleDays, "a last contact older than N days is stale"},
    {"--report", "", "FILE.pdf|FILE.csv", Audit, report, "the auditor's report"},
    {"--from", "", "YYYY-MM-DD", Audit, date<&Options::from>, "the report's first day"},
    {"--to", "", "YYYY-MM-DD", Audit, date<&Options::to>, "the report's last day"},
    {"--ports", "", "LIST", bit(Command::Round), ports,
     std::string_view("COMM numbers and device paths, comma-separated")},
    {"--on-deviation", "", "CMD", bit(Command::Round), nonEmpty<&Options::onDeviation>,
     "run when something deviates"},
    {"--on-failure", "", "CMD", bit(Command::Round), nonEmpty<&Options::onFailure>,
     "run when a port failed"},
    {"--help", "-h", "", 0, nullptr, "this text"},
}};

const OptionSpec* optionNamed(std::string_view name) {
    for (const OptionSpec& o : Table)
        if (o.name == name || (!o.alias.empty() && o.alias == name))
            return &o;
    return nullptr;
}

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
    for (const OptionSpec& o : Table) {
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
    std::vector<std::pair<const OptionSpec*, std::string>> values;
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
        const OptionSpec* spec = optionNamed(name);
        if (!spec || !spec->apply)
            return fail("unknown option " + name);
        if (spec->value.empty()) {
            if (value)
                return fail("option " + name + " takes no value");
            value = std::string();
        } else if (!value) {
            if (i + 1 >= args.size())
                return fail("option " + name + " needs a value");
            value = args[++i];
        }
        for (const auto& [given, v] : values)
            if (given == spec)
                return fail("option " + name + " given twice");
        values.emplace_back(spec, *value);
    }

    if (positional.empty())
        return fail("no command given");
    const CommandSpec* command = commandNamed(positional[0]);
    if (!command)
        return fail("unknown command " + positional[0]);
    Options o;
    o.command = command->command;
    size_t expected = command->positional;
    if (o.command == Command::Mode && positional.size() > 1)
        expected = 2;
    for (const auto& [spec, value] : values)
        if (o.command == Command::History && spec->name == "--diff")
            expected = 2; // --diff ID1 ID2
    if (positional.size() > expected)
        return fail("too many arguments for " + positional[0] + ": " + positional[expected]);
    if (positional.size() < expected)
        return fail(std::string(command->missing));

    for (const auto& [spec, value] : values) {
        const std::string name(spec->name);
        if (!(spec->commands & bit(o.command)))
            return fail("option " + name + " does not go with " + positional[0]);
        if (const auto error = spec->apply(o, value, name))
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
    for (const CommandSpec& c : Commands) {
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
    for (const OptionSpec& o : Table) {
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
