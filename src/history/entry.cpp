#include "entry.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace pp::history {

std::string_view actionWord(Action a) {
    switch (a) {
    case Action::Upload:
        return "upload";
    case Action::Download:
        return "download";
    case Action::Approve:
        return "approve";
    case Action::Revoke:
        return "revoke";
    }
    return "upload";
}

std::string_view scopeWord(Scope s) {
    return s == Scope::System ? "system" : "part";
}

std::optional<Action> actionFromWord(std::string_view word) {
    if (word == "upload")
        return Action::Upload;
    if (word == "download")
        return Action::Download;
    if (word == "approve")
        return Action::Approve;
    if (word == "revoke")
        return Action::Revoke;
    return std::nullopt;
}

std::optional<Scope> scopeFromWord(std::string_view word) {
    if (word == "system")
        return Scope::System;
    if (word == "part")
        return Scope::Part;
    return std::nullopt;
}

std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return {}; // never matches a stored hash, so verification reports it
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        out += Hex[digest[i] >> 4];
        out += Hex[digest[i] & 0xf];
    }
    return out;
}

namespace {

// "name LENGTH:VALUE\n", or "name -\n" for none: no value can pass for another.
void field(std::string& out, std::string_view name, std::optional<std::string_view> value) {
    out += name;
    if (!value) {
        out += " -\n";
        return;
    }
    out += ' ';
    out += std::to_string(value->size());
    out += ':';
    out += *value;
    out += '\n';
}

std::optional<std::string_view> orNone(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string_view>(text);
}

constexpr const char* FindingFields[] = {"basis", "caption", "before", "after"};

// Reads "name LENGTH:VALUE\n" at `at`; false when the text there is not that field.
bool readField(std::string_view text, size_t& at, std::string_view name, std::string& value) {
    if (text.substr(at, name.size()) != name || text.substr(at + name.size(), 1) != " ")
        return false;
    size_t i = at + name.size() + 1, length = 0, digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 10; ++i, ++digits)
        length = length * 10 + static_cast<size_t>(text[i] - '0');
    if (digits == 0 || (digits > 1 && text[at + name.size() + 1] == '0') || i >= text.size() ||
        text[i] != ':' || text.size() - i - 1 < length + 1 || text[i + 1 + length] != '\n')
        return false;
    value.assign(text.substr(i + 1, length));
    at = i + 2 + length;
    return true;
}

} // namespace

std::string findingsText(const std::vector<Finding>& findings) {
    std::string out;
    for (const Finding& f : findings) {
        const std::string* texts[] = {&f.basis, &f.caption, &f.before, &f.after};
        for (size_t i = 0; i < 4; ++i)
            field(out, FindingFields[i], std::string_view(*texts[i]));
    }
    return out;
}

std::vector<Finding> findingsFrom(std::string_view text) {
    std::vector<Finding> out;
    for (size_t at = 0; at < text.size();) {
        Finding f;
        std::string* texts[] = {&f.basis, &f.caption, &f.before, &f.after};
        for (size_t i = 0; i < 4; ++i)
            if (!readField(text, at, FindingFields[i], *texts[i]))
                return {Finding{"?", "unreadable findings", std::string(text), {}}};
        out.push_back(std::move(f));
    }
    return out;
}

std::string signatureText(const Signature& s) {
    std::string out;
    field(out, "number", std::to_string(s.number));
    field(out, "login", s.login);
    field(out, "name", s.name);
    field(out, "signed", s.time);
    return out;
}

std::optional<Signature> signatureFrom(std::string_view text) {
    Signature s;
    std::string number;
    size_t at = 0;
    if (!readField(text, at, "number", number) || !readField(text, at, "login", s.login) ||
        !readField(text, at, "name", s.name) || !readField(text, at, "signed", s.time) ||
        at != text.size() || number.empty() || number.size() > 18 ||
        (number.size() > 1 && number[0] == '0') ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    s.number = std::stoll(number);
    return s;
}

std::string canonicalText(const Entry& e) {
    if (e.format < 1 || e.format > CurrentFormat)
        return {};
    // Older formats hash none of these: an old entry that holds one was edited.
    if (e.format < 3 && (!e.reason.empty() || !e.meaning.empty() || e.subject ||
                         !e.subjectHash.empty() || !e.findings.empty()))
        return {};
    if (e.format < 4 && e.signature)
        return {};
    std::string out = "paramporter history entry " + std::to_string(e.format) + "\n";
    const std::string id = std::to_string(e.id);
    const std::string stopped = e.stoppedAtField ? std::to_string(*e.stoppedAtField) : "";
    field(out, "id", id);
    if (e.format >= 2)
        field(out, "source", e.source);
    field(out, "time", e.time);
    field(out, "user", e.user);
    field(out, "host", e.host);
    field(out, "port", e.port);
    field(out, "action", actionWord(e.action));
    field(out, "scope", scopeWord(e.scope));
    field(out, "part", orNone(e.part));
    field(out, "serial", orNone(e.serial));
    field(out, "generation", orNone(e.generation));
    field(out, "result", e.result);
    field(out, "stopped-at-field", orNone(stopped));
    if (e.format >= 3) {
        const std::string subject = e.subject ? std::to_string(*e.subject) : "";
        field(out, "reason", orNone(e.reason));
        field(out, "meaning", orNone(e.meaning));
        field(out, "subject", orNone(subject));
        field(out, "subject-hash", orNone(e.subjectHash));
        field(out, "findings", orNone(findingsText(e.findings)));
    }
    if (e.format >= 4) {
        const std::string signature = e.signature ? signatureText(*e.signature) : "";
        field(out, "signature", orNone(signature));
    }
    field(out, "file", orNone(e.fileHash));
    field(out, "previous", orNone(e.previousHash));
    return out;
}

std::string utcTimestamp(int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[80]; // room for any int the fields could hold
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

std::string utcTimestamp() {
    using namespace std::chrono;
    return utcTimestamp(
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

bool hasReason(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0x1b) { // an escape sequence: ESC [ parameters final, or ESC and one character
            ++i;
            if (i < text.size() && text[i] == '[') {
                ++i;
                while (i < text.size() && (text[i] < 0x40 || text[i] > 0x7e))
                    ++i;
            }
            ++i;
            continue;
        }
        if (c < 0x80) {
            if (c > 0x20 && c != 0x7f)
                return true;
            ++i;
            continue;
        }
        // One UTF-8 sequence; bytes that are none are something said.
        const size_t length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
        if (length == 1 || i + length > text.size())
            return true;
        uint32_t cp = c & (0xff >> (length + 1));
        for (size_t k = 1; k < length; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
        const bool nothing = (cp >= 0x80 && cp <= 0xa0) || cp == 0xad || cp == 0x1680 ||
                             (cp >= 0x2000 && cp <= 0x200f) || (cp >= 0x2028 && cp <= 0x202f) ||
                             (cp >= 0x205f && cp <= 0x2064) || cp == 0x3000 || cp == 0xfeff;
        if (!nothing)
            return true;
        i += length;
    }
    return false;
}

std::string asciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace pp::history
