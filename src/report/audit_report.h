// The auditor's report as a document to hand over: its first page (what it covers, where it
// comes from, who made it when, the state of every instrument and scope), then every entry of
// the period, the chain check and the end mark, on numbered pages under a running header.
// Standard library only: the texts come in as they are to be read (escaped by the caller), and
// the pages go out as fixed-pitch lines of at most the given number of characters, every text
// wrapped, none cut.
#pragma once

#include "report/report.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pp {

// One instrument and scope on the first page.
struct AuditSummaryLine {
    std::string serial;      // "1234"; "-" when unknown
    std::string scope;       // "system", "part 05"
    std::string state;       // "matches", "differs", "never approved", ...
    std::string lastContact; // "2026-12-08T14:03:07.412Z on line-1", "no transfer recorded"
    std::string detail;      // what differs, stale; empty for nothing
};

// One entry of the period. Texts may hold line breaks; everything else is shown as given.
struct AuditReportEntry {
    int64_t id = 0;
    std::string time;
    std::string user;
    std::string host;
    std::string what;    // "upload part 05", "approve system"
    std::string serial;  // empty when unknown
    std::string result;  // a transfer's result; empty for approvals and revocations
    std::string meaning; // an approval's meaning
    // An approval's or revocation's signature: "Ann Approver, login ann, 2026-12-10T09:14:02.113Z
    // (the plant server's time)", or why there is none.
    std::string signature;
    std::string subject; // an approval: the entry it approves, "entry 12: upload part 05 ..."
    std::string reason;
    std::string changes;  // what it changed against the entry before it
    std::string findings; // what an upload showed against what the instrument should hold
    std::string note;     // what the auditor should know besides (a PC's clock set back)
};

struct AuditReportDocument {
    std::string instruments; // "every instrument", "serial 1234"
    std::string period;      // "2026-12-01 to 2026-12-31"
    std::string selection;   // how the period's entries were chosen, and which they are
    std::string source;      // "this PC's history, /path", "the plant server, URI"
    std::string where;       // the running header's: "this PC", "the plant server"
    std::string made;        // "2026-12-10T09:00:00.000Z by tech on line-1"
    std::vector<AuditSummaryLine> summary;
    std::string summaryError; // why the summary could not be read; empty when it was
    std::vector<AuditReportEntry> entries;
    std::string chain; // "intact, 18 entries", "broken at entry 7: ...", "not checked: ..."
};

inline constexpr std::string_view AuditReportEnd = "End of report";

// `text` in lines of at most `width` characters (UTF-8 code points), broken at its line breaks,
// else at the last blank that leaves a line at least half full, else within a word; nothing is
// left out but the blank a line is broken at. An empty text is one empty line.
std::vector<std::string> wrapText(std::string_view text, size_t width);

// The whole document on pages of `rows` lines of `columns` characters (at least 40 by 20 are
// used), each page with the running header, and "Page N of M" on its last line.
std::vector<std::vector<ReportLine>> auditReportPages(const AuditReportDocument& document,
                                                      size_t columns, size_t rows);

} // namespace pp
