// The command line's options and commands as data: what each option is called, what it takes,
// the commands it goes with, how its value is read and what --help says of it.
#include "app/cli_options.h"

#include "history/entry.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace pp::cli {

namespace {

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

std::string asciiLowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
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

namespace {

constexpr std::array<CommandRow, 12> CommandTable{{
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
     "  (with a history server, both are signed there: the\n"
     "  approver's plant login, --login or asked, and their\n"
     "  password, asked on the terminal; without one they\n"
     "  are this PC's alone, unsigned and local)\n"
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
     "of the period: every entry with its ID, the approvals\n"
     "with their meaning and subject, the chain check (exit\n"
     "2 when it could not be made). The period runs in the\n"
     "order entries were recorded: from the first dated on\n"
     "or after --from to the last dated on or before --to,\n"
     "with every entry recorded between, whatever its date\n"},
    {"round", Command::Round, 1, "", "",
     "for each port: the system parameters and every\n"
     "configured part number read, recorded and audited;\n"
     "CMD runs once per round with a JSON summary on its\n"
     "standard input\n"},
    {"plant", Command::Plant, 1, "", "",
     "plant IT's work on the history server, with an\n"
     "administrator's login (--server URI, else the history\n"
     "server): --register-pc HOST --login LOGIN registers a\n"
     "PC, whose entries are then taken from that login and\n"
     "host alone, and binds to it the PC's entries the\n"
     "server held from before registration\n"},
}};

} // namespace

std::span<const CommandRow> commands() {
    return CommandTable;
}

const CommandRow* commandNamed(std::string_view name) {
    for (const CommandRow& c : CommandTable)
        if (c.name == name)
            return &c;
    return nullptr;
}

namespace {

// ---------------------------------------------------------------- the options

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
    // 0 would check no age at all: leave the option out for that.
    if (!allDigits(value) || value.size() > 5 || std::stoi(value) == 0)
        return "--stale-days " + value + ": a number of days (1, 2, ...) expected";
    o.staleDays = std::stoi(value);
    return std::nullopt;
}

std::optional<std::string> deadline(Options& o, const std::string& value, const std::string&) {
    if (!allDigits(value) || value.size() > 6 || std::stoi(value) == 0)
        return "--deadline " + value + ": a number of seconds (1, 2, ...) expected";
    o.deadlineSeconds = std::stoi(value);
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
    if (!pp::history::hasReason(value))
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

constexpr std::array<OptionRow, 37> Table{{
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
    {"--server", "", "URI", History | Audit | bit(Command::Plant), nonEmpty<&Options::server>,
     "the plant's entries"},
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
    {"--from", "", "YYYY-MM-DD", Audit, date<&Options::from>,
     "from the first entry dated on or after it"},
    {"--to", "", "YYYY-MM-DD", Audit, date<&Options::to>,
     "to the last entry dated on or before it"},
    {"--ports", "", "LIST", bit(Command::Round), ports,
     std::string_view("COMM numbers and device paths, comma-separated")},
    {"--deadline", "", "SECONDS", bit(Command::Round), deadline,
     "no step of the round begins after this long"},
    {"--on-deviation", "", "CMD", bit(Command::Round), nonEmpty<&Options::onDeviation>,
     "run when something deviates"},
    {"--on-failure", "", "CMD", bit(Command::Round), nonEmpty<&Options::onFailure>,
     "run when a port failed"},
    {"--register-pc", "", "HOST", bit(Command::Plant), nonEmpty<&Options::registerPc>,
     "the PC's host name"},
    {"--login", "", "LOGIN", bit(Command::Plant) | History, nonEmpty<&Options::login>,
     "the PC's login (plant), the approver's own (history)"},
    {"--help", "-h", "", 0, nullptr, "this text"},
}};

} // namespace

std::span<const OptionRow> options() {
    return Table;
}

const OptionRow* optionNamed(std::string_view name) {
    for (const OptionRow& o : Table)
        if (o.name == name || (!o.alias.empty() && o.alias == name))
            return &o;
    return nullptr;
}

} // namespace pp::cli
