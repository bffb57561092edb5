#include "audit_report.h"

#include <algorithm>
#include <optional>

namespace pp {

namespace {

bool continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}

// The byte offset of every code point of `text`, and its size at the end.
std::vector<size_t> codePoints(std::string_view text) {
    std::vector<size_t> at;
    at.reserve(text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i)
        if (!continuation(text[i]))
            at.push_back(i);
    at.push_back(text.size());
    return at;
}

void wrapParagraph(std::string_view text, size_t width, std::vector<std::string>& out) {
    const std::vector<size_t> at = codePoints(text);
    const size_t count = at.size() - 1;
    size_t start = 0; // in code points
    while (count - start > width) {
        // The last blank within reach that leaves the line at least half full.
        size_t cut = start + width, next = cut;
        for (size_t p = start + width; p > start + width / 2; --p)
            if (text[at[p]] == ' ') {
                cut = p;
                next = p + 1;
                break;
            }
        out.emplace_back(text.substr(at[start], at[cut] - at[start]));
        start = next;
    }
    out.emplace_back(text.substr(at[start], at[count] - at[start]));
}

// A labelled text: the label, then the text wrapped beside it, its further lines under the
// text's first character.
std::vector<std::string> labelled(const std::string& label, std::string_view text, size_t columns) {
    const size_t width = columns > label.size() + 20 ? columns - label.size() : 20;
    std::vector<std::string> lines = wrapText(text, width);
    const std::string indent(label.size(), ' ');
    for (size_t i = 0; i < lines.size(); ++i)
        lines[i] = (i == 0 ? label : indent) + lines[i];
    return lines;
}

// Lines that stay on one page when they fit on one; `continued` heads the rest on the next
// page when they do not.
struct Block {
    std::vector<ReportLine> lines;
    std::string continued;
    bool newPage = false; // starts a page of its own
};

void addText(Block& block, const std::string& label, std::string_view text, size_t columns,
             bool bold = false) {
    for (std::string& line : labelled(label, text, columns))
        block.lines.push_back({std::move(line), 10, bold});
}

Block blankLine() {
    Block b;
    b.lines.push_back({"", 10, false});
    return b;
}

std::string padded(std::string_view text, size_t width) {
    return PadRight(text, width) + (text.size() >= width ? " " : "");
}

std::vector<Block> firstPage(const AuditReportDocument& d, size_t columns) {
    std::vector<Block> blocks;
    Block head;
    addText(head, "", "ParamPorter audit report", columns, true);
    head.lines.push_back({"", 10, false});
    addText(head, "Instruments: ", d.instruments, columns);
    addText(head, "Period:      ", d.period, columns);
    addText(head, "Entries:     ", d.selection, columns);
    addText(head, "Source:      ", d.source, columns);
    addText(head, "Made:        ", d.made, columns);
    addText(head, "Chain check: ", d.chain, columns);
    blocks.push_back(std::move(head));
    blocks.push_back(blankLine());

    Block title;
    addText(title, "", "Every instrument and scope, its state when the report was made", columns,
            true);
    if (!d.summaryError.empty()) {
        addText(title, "", "not read: " + d.summaryError, columns);
        blocks.push_back(std::move(title));
        return blocks;
    }
    if (d.summary.empty()) {
        addText(title, "", "no instrument recorded", columns);
        blocks.push_back(std::move(title));
        return blocks;
    }
    // The columns as wide as their widest text, the last contact and what differs below.
    size_t serial = 10, scope = 8, state = 5;
    for (const AuditSummaryLine& s : d.summary) {
        serial = std::max(serial, s.serial.size() + 2);
        state = std::max(state, s.state.size() + 2);
    }
    serial = std::min(serial, columns / 3);
    state = std::min(state, columns / 3);
    addText(title, "",
            padded("Serial", serial) + padded("Scope", scope) + padded("State", state) +
                "Last contact",
            columns, true);
    blocks.push_back(std::move(title));
    for (const AuditSummaryLine& s : d.summary) {
        Block row;
        addText(row, "",
                padded(s.serial, serial) + padded(s.scope, scope) + padded(s.state, state) +
                    s.lastContact,
                columns);
        if (!s.detail.empty())
            addText(row, std::string(serial + scope, ' '), s.detail, columns);
        blocks.push_back(std::move(row));
    }
    return blocks;
}

Block entryBlock(const AuditReportEntry& e, size_t columns) {
    Block b;
    const std::string id = "Entry " + std::to_string(e.id);
    b.continued = id + " (continued)";
    std::string head = id + "  " + e.time + "  " + e.what + "  serial " +
                       (e.serial.empty() ? std::string("-") : e.serial);
    if (!e.result.empty())
        head += "  " + e.result;
    addText(b, "", head, columns, true);
    addText(b, "    by ", e.user + " on " + e.host, columns);
    if (!e.signature.empty())
        addText(b, "    signed by: ", e.signature, columns);
    if (!e.meaning.empty())
        addText(b, "    meaning: ", e.meaning, columns);
    if (!e.subject.empty())
        addText(b, "    approves ", e.subject, columns);
    if (!e.reason.empty())
        addText(b, "    reason: ", e.reason, columns);
    if (!e.changes.empty())
        addText(b, "    changed: ", e.changes, columns);
    if (!e.findings.empty())
        addText(b, "    found: ", e.findings, columns);
    if (!e.note.empty())
        addText(b, "    note: ", e.note, columns);
    return b;
}

} // namespace

std::vector<std::string> wrapText(std::string_view text, size_t width) {
    width = std::max<size_t>(width, 1);
    std::vector<std::string> out;
    for (;;) {
        const size_t end = text.find('\n');
        std::string_view paragraph = text.substr(0, end);
        if (!paragraph.empty() && paragraph.back() == '\r')
            paragraph.remove_suffix(1);
        wrapParagraph(paragraph, width, out);
        if (end == std::string_view::npos)
            return out;
        text.remove_prefix(end + 1);
    }
}

std::vector<std::vector<ReportLine>> auditReportPages(const AuditReportDocument& d, size_t columns,
                                                      size_t rows) {
    columns = std::max<size_t>(columns, 40);
    rows = std::max<size_t>(rows, 20);

    std::vector<Block> blocks = firstPage(d, columns);
    Block entriesTitle;
    entriesTitle.newPage = true;
    addText(entriesTitle, "",
            "The entries of the period, in the order they were recorded (" +
                std::to_string(d.entries.size()) + ")",
            columns, true);
    entriesTitle.lines.push_back({"", 10, false});
    if (d.entries.empty())
        addText(entriesTitle, "", "no entry", columns);
    blocks.push_back(std::move(entriesTitle));
    for (const AuditReportEntry& e : d.entries) {
        blocks.push_back(entryBlock(e, columns));
        blocks.back().lines.push_back({"", 10, false});
    }
    Block end;
    addText(end, "Chain check: ", d.chain, columns, true);
    end.lines.push_back({"", 10, false});
    addText(end, "", std::string(AuditReportEnd), columns, true);
    blocks.push_back(std::move(end));

    // The running header above every page, the page number on its last line.
    std::vector<ReportLine> header;
    for (std::string& line :
         wrapText("ParamPorter audit report: " + d.instruments + ", " + d.period + ", " + d.where,
                  columns))
        header.push_back({std::move(line), 10, false});
    header.push_back({std::string(columns, '-'), 10, false});
    header.push_back({"", 10, false});
    const size_t body = rows > header.size() + 2 + 5 ? rows - header.size() - 2 : 5;

    std::vector<std::vector<ReportLine>> pages(1);
    for (const Block& b : blocks) {
        if (b.newPage && !pages.back().empty())
            pages.emplace_back();
        const size_t room = body - pages.back().size();
        if (b.lines.size() > room && b.lines.size() <= body && !pages.back().empty())
            pages.emplace_back();
        for (const ReportLine& line : b.lines) {
            if (pages.back().size() == body) {
                pages.emplace_back();
                if (!b.continued.empty())
                    pages.back().push_back({b.continued, 10, true});
            }
            // A blank line does not start a page.
            if (pages.back().empty() && line.text.empty())
                continue;
            pages.back().push_back(line);
        }
    }

    std::vector<std::vector<ReportLine>> out;
    out.reserve(pages.size());
    for (size_t p = 0; p < pages.size(); ++p) {
        std::vector<ReportLine> page = header;
        page.insert(page.end(), pages[p].begin(), pages[p].end());
        if (page.size() < rows - 1)
            page.resize(rows - 1, {"", 10, false});
        const std::string number =
            "Page " + std::to_string(p + 1) + " of " + std::to_string(pages.size());
        page.push_back(
            {std::string(columns - std::min(columns, number.size()), ' ') + number, 10, false});
        out.push_back(std::move(page));
    }
    return out;
}

} // namespace pp
