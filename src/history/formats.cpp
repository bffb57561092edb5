#include "formats.h"

#include "history/audit.h"
#include "sheet/compare.h"

#include <cstdio>

namespace pp::history {

namespace {

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

// Length of the valid UTF-8 sequence at `i`, 0 when there is none.
size_t utf8Length(std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    size_t n = 0;
    unsigned min = 0;
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
        min = 0x80;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        min = 0x800;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    unsigned code = c & (0xff >> (n + 1));
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return n;
}

void jsonString(std::string& out, std::string_view s) {
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char escape[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const size_t n = utf8Length(s, i)) {
            out.append(s.substr(i, n));
            i += n;
            continue;
        } else {
            // Not UTF-8: the byte as a lone low surrogate (U+DC80 to U+DCFF), which no
            // character has, so that it never reads as the character of the same code.
            std::snprintf(escape, sizeof escape, "\\udc%02x", c);
            out += escape;
        }
        ++i;
    }
    out += '"';
}

// A text for a terminal: control characters (C0, DEL, C1), the marks that reverse the
// direction of text, and bytes that are not UTF-8 are shown as escapes, and so is the
// backslash that starts them, so that no instrument text can move the cursor, clear the
// screen or pass for another line.
std::string shown(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    char escape[12];
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const size_t n = utf8Length(s, i)) {
            unsigned code = c & (0xff >> (n + 1));
            for (size_t k = 1; k < n; ++k)
                code = (code << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3f);
            const bool control = (code >= 0x80 && code <= 0x9f) ||
                                 (code >= 0x202a && code <= 0x202e) ||
                                 (code >= 0x2066 && code <= 0x2069);
            if (control) {
                std::snprintf(escape, sizeof escape, "\\u%04x", code);
                out += escape;
            } else {
                out.append(s.substr(i, n));
            }
            i += n;
            continue;
        } else {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        }
        ++i;
    }
    return out;
}

void jsonKey(std::string& out, std::string_view key) {
    out += out.size() > 1 ? ",\"" : "\"";
    out += key;
    out += "\":";
}

void jsonText(std::string& out, std::string_view key, const std::string& value, bool nullable) {
    jsonKey(out, key);
    if (nullable && value.empty())
        out += "null";
    else
        jsonString(out, value);
}

void csvField(std::string& out, std::string_view value, bool first) {
    if (!first)
        out += ',';
    out += '"';
    // A spreadsheet takes a cell that starts so for a formula, quoted or not.
    if (!value.empty() &&
        std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos)
        out += '\'';
    for (char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

std::string resultText(const Entry& e) {
    if (!e.stoppedAtField)
        return e.result;
    return e.result + " (stopped at field " + std::to_string(*e.stoppedAtField) + ")";
}

namespace {

// What a listing shows last: an approval's meaning, "revoked", or the transfer's result; then
// the reason when there is one.
std::string outcomeText(const Entry& e) {
    std::string out = e.action == Action::Approve  ? e.meaning
                      : e.action == Action::Revoke ? std::string("revoked")
                                                   : resultText(e);
    if (const std::string signature = signatureLabel(e); !signature.empty())
        out += ", " + signature;
    if (!e.reason.empty())
        out += "; reason: " + e.reason;
    // What the upload showed that it should not have: "; found approved: Leak Limit 7.5 -> 9".
    if (e.action == Action::Upload)
        for (const Finding& f : e.findings)
            out += "; found " + findingText(f);
    return out;
}

std::string head(const Entry& e) {
    return std::to_string(e.id) + ' ' + e.time + ' ' + std::string(actionWord(e.action)) + ' ' +
           std::string(scopeWord(e.scope)) + ' ' + orDash(e.part) + ' ' + orDash(e.serial) + ' ';
}

} // namespace

std::string signatureLabel(const Entry& e) {
    if (e.action != Action::Approve && e.action != Action::Revoke)
        return {};
    if (!e.refused.empty())
        return "refused by the plant server"; // whatever signature it names counts for nothing
    if (!e.signature)
        return "unsigned, local";
    return "signed by " + e.signature->name + " (" + e.signature->login + ") at " +
           e.signature->time;
}

std::string findingText(const Finding& f) {
    return (f.basis == CalibrationBasis ? std::string("calibration changed") : f.basis) + ": " +
           pp::changeText(f.caption, f.before, f.after);
}

void JsonObject::key(std::string_view key) {
    jsonKey(out_, key);
}

JsonObject& JsonObject::text(std::string_view k, std::string_view value) {
    key(k);
    jsonString(out_, value);
    return *this;
}

JsonObject& JsonObject::textOrNull(std::string_view k, std::string_view value) {
    return value.empty() ? json(k, "null") : text(k, value);
}

JsonObject& JsonObject::number(std::string_view k, long long value) {
    return json(k, std::to_string(value));
}

JsonObject& JsonObject::boolean(std::string_view k, bool value) {
    return json(k, value ? "true" : "false");
}

JsonObject& JsonObject::boolOrNull(std::string_view k, std::optional<bool> value) {
    return value ? boolean(k, *value) : json(k, "null");
}

JsonObject& JsonObject::json(std::string_view k, std::string_view value) {
    key(k);
    out_ += value;
    return *this;
}

std::string jsonArray(const std::vector<std::string>& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i)
        out += (i ? "," : "") + values[i];
    return out + ']';
}

std::string findingJson(const Finding& f) {
    return JsonObject()
        .text("basis", f.basis)
        .text("caption", f.caption)
        .text("before", f.before)
        .text("after", f.after)
        .str();
}

std::string listLine(const Entry& e) {
    return shown(head(e) + outcomeText(e));
}

std::string jsonLine(const Entry& e) {
    std::string out = "{";
    jsonKey(out, "id");
    out += std::to_string(e.id);
    jsonText(out, "time", e.time, false);
    jsonText(out, "user", e.user, false);
    jsonText(out, "host", e.host, false);
    jsonText(out, "port", e.port, false);
    jsonText(out, "action", std::string(actionWord(e.action)), false);
    jsonText(out, "scope", std::string(scopeWord(e.scope)), false);
    jsonText(out, "part", e.part, true);
    jsonText(out, "serial", e.serial, true);
    jsonText(out, "generation", e.generation, true);
    jsonText(out, "result", e.result, false);
    jsonKey(out, "stopped_at_field");
    out += e.stoppedAtField ? std::to_string(*e.stoppedAtField) : "null";
    jsonText(out, "reason", e.reason, true);
    jsonText(out, "meaning", e.meaning, true);
    jsonKey(out, "subject");
    out += e.subject ? std::to_string(*e.subject) : "null";
    jsonText(out, "subject_hash", e.subjectHash, true);
    jsonKey(out, "signature");
    out += e.signature ? JsonObject()
                             .number("number", e.signature->number)
                             .text("login", e.signature->login)
                             .text("name", e.signature->name)
                             .text("signed", e.signature->time)
                             .str()
                       : std::string("null");
    jsonKey(out, "findings");
    std::vector<std::string> findings;
    for (const Finding& f : e.findings)
        findings.push_back(findingJson(f));
    out += jsonArray(findings);
    jsonKey(out, "file");
    if (e.file)
        jsonString(out, *e.file);
    else
        out += "null";
    jsonText(out, "hash", e.hash, false);
    out += '}';
    return out;
}

std::string plantListLine(const Entry& e, const std::string& sourceHost,
                          const std::string& refused) {
    return shown(head(e) + orDash(sourceHost) + ' ' + outcomeText(e) +
                 (refused.empty() ? std::string() : " refused by the server: " + refused));
}

std::string plantJsonLine(const Entry& e, const std::string& sourceHost,
                          const std::string& received, const std::string& login,
                          const std::string& refused) {
    std::string out = jsonLine(e);
    out.pop_back(); // the closing brace
    jsonText(out, "source_host", sourceHost, false);
    jsonText(out, "received", received, true);
    jsonText(out, "login", login, true);
    if (!refused.empty())
        jsonText(out, "refused", refused, false);
    out += '}';
    return out;
}

std::string csvHeader() {
    return "\"ID\",\"Time\",\"User\",\"Host\",\"Port\",\"Action\",\"Scope\",\"Part\",\"Serial\","
           "\"Generation\",\"Result\",\"Reason\",\"Meaning\",\"Subject\",\"Findings\","
           "\"Signed By\",\"Signer Login\",\"Signed At\"\r\n";
}

std::string csvRow(const Entry& e) {
    std::string out;
    csvField(out, std::to_string(e.id), true);
    for (const std::string& value :
         {e.time, e.user, e.host, e.port, std::string(actionWord(e.action)),
          std::string(scopeWord(e.scope)), e.part, e.serial, e.generation, resultText(e), e.reason,
          e.meaning, e.subject ? std::to_string(*e.subject) : std::string()})
        csvField(out, value, false);
    std::string findings;
    for (const Finding& f : e.findings)
        findings += (findings.empty() ? "" : "; ") + findingText(f);
    csvField(out, findings, false);
    const bool signedHere = e.signature && e.refused.empty();
    for (const std::string& value : {signedHere ? e.signature->name : signatureLabel(e),
                                     signedHere ? e.signature->login : std::string(),
                                     signedHere ? e.signature->time : std::string()})
        csvField(out, value, false);
    out += "\r\n";
    return out;
}

std::string terminalText(std::string_view text) {
    return shown(text);
}

std::string jsonQuoted(std::string_view text) {
    std::string out;
    jsonString(out, text);
    return out;
}

std::string csvLine(const std::vector<std::string>& cells) {
    std::string out;
    for (size_t i = 0; i < cells.size(); ++i)
        csvField(out, cells[i], i == 0);
    out += "\r\n";
    return out;
}

} // namespace pp::history
