// paramporter-cli: the command line's arguments. Parsing is a pure function of the argument
// list, so it can be tested and fuzzed without a port or an event loop.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pp::cli {

enum class Command {
    Help,
    Version,
    Read,
    Write,
    Mode,
    Parts,
    Backup,
    Diff,
    Verify,
    Report,
    History,
    Audit,
    Round,
    Plant
};

// Exit statuses.
inline constexpr int ExitOk = 0;
inline constexpr int ExitLink = 1;   // an exchange with the instrument (or history --push) failed
inline constexpr int ExitUsage = 2;  // bad arguments, or a file that cannot be read or written
inline constexpr int ExitDiffer = 3; // diff, verify: the parameters differ
inline constexpr int ExitBroken = 4; // history --verify: an entry does not match its hash
// audit, round: something deviates from its approved values or is stale: ExitDiffer.

struct Options {
    Command command = Command::Help;
    // --port: a COMM number 1..5, or a device path; neither means the settings file's number.
    int portNumber = 0;
    std::string portDevice;
    std::string part;            // read: the part number as two digits, "01".."32"
    std::string file;            // read: -o FILE; write, verify, report: FILE; diff: FILE1
    std::string file2;           // diff: FILE2
    std::string output;          // report: -o OUT; empty for standard output
    std::optional<bool> convert; // write, report: --convert yes|no
    // write: --part-only (the part download alone), --system-only (the system download alone),
    // --any-instrument (whatever serial number the connected instrument has).
    bool partOnly = false;
    bool systemOnly = false;
    bool anyInstrument = false;
    std::optional<char> mode;  // mode: the mode digit to change to, '0'..'3'
    std::string dir;           // backup: --dir DIR
    std::string history;       // --history FILE: the history of this run
    std::string historyServer; // --history-server URI: where recorded entries are forwarded
    // history: the listing (part: --part PP, also --serial, --action, --limit, --json), or
    // --verify, or --export ID (file: -o FILE), or --diff ID1 ID2.
    std::string serial;
    std::string action; // "upload", "download", "approve" or "revoke"
    long long limit = 0;
    bool json = false;
    bool verifyHistory = false;
    long long exportId = 0;
    long long diffFirst = 0;
    long long diffSecond = 0;
    // history --push, --status: this PC's queue; --server URI [--host H]: the plant's entries.
    bool push = false;
    bool forwardStatus = false;
    std::string server;
    std::string host;
    // history --approve ID --meaning M --reason TEXT: entry ID (of --server's plant when given)
    // approved; history --revoke --serial SN --scope S [--part PP] --reason TEXT: the approval
    // in force for that instrument and scope ended.
    long long approveId = 0;
    bool revoke = false;
    std::string meaning; // "approved" or "reviewed"
    std::string reason;  // also write --reason TEXT: why the download is made
    // audit [--server URI] [--serial SN] [--stale-days N] [--json] [--report FILE [--from DATE]
    // [--to DATE]]
    int staleDays = 0;  // 0: age not checked
    std::string report; // FILE.pdf or FILE.csv
    std::string from;   // YYYY-MM-DD, inclusive
    std::string to;     // YYYY-MM-DD, inclusive
    // round --ports 1,2,/dev/ttyUSB0 [--deadline SECONDS] [--on-deviation CMD] [--on-failure CMD]
    std::vector<std::string> ports;
    int deadlineSeconds = 0; // round --deadline N: no port is begun after N seconds; 0: none
    std::string onDeviation;
    std::string onFailure;
    std::string scope; // "system" or "part"
    // plant --register-pc HOST --login LOGIN [--server URI]: plant IT registers a PC.
    std::string registerPc;
    std::string login;
    bool operator==(const Options&) const = default;
};

struct ParseResult {
    std::optional<Options> options; // set when the arguments were understood
    std::string error;              // otherwise what was wrong, one line
};

// `args` without the program name.
ParseResult parseArguments(const std::vector<std::string>& args);

// "7" or "07" -> "07"; nothing unless one or two digits giving 1..32.
std::optional<std::string> partNumberText(std::string_view text);

// report -o OUT.pdf, audit --report OUT.pdf (any case): rendered, which needs a GUI application.
bool wantsPdf(const Options& options);

std::string usageText();

} // namespace pp::cli
