#include "entry.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace pp::history {

std::string_view actionWord(Action a) {
    return a == Action::Upload ? "upload" : "download";
}

std::string_view scopeWord(Scope s) {
    return s == Scope::System ? "system" : "part";
}

std::optional<Action> actionFromWord(std::string_view word) {
    if (word == "upload")
        return Action::Upload;
    if (word == "download")
        return Action::Download;
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

} // namespace

std::string canonicalText(const Entry& e) {
    if (e.format < 1 || e.format > CurrentFormat)
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

std::string asciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace pp::history
