#include "state_file.h"

#include "files/file_system.h"

namespace pp::sim {

namespace {

constexpr std::string_view Header =
    "# The values of a simulated QX7400, one a line, as its keypad takes them\n"
    "# (qx7400-sim --help). Written back after every download and keypad change.\n";

// The first record in which two instruments differ; empty when none does.
std::string firstDifference(const Instrument& a, const Instrument& b) {
    if (a.generation() != b.generation())
        return "generation";
    if (a.configuredParts() != b.configuredParts())
        return "parts";
    if (a.systemRecord() != b.systemRecord())
        return "system";
    for (int n = 1; n <= PartNumbers; ++n)
        if (a.partRecord(n) != b.partRecord(n))
            return "part " + std::to_string(n);
    return {};
}

} // namespace

StateFile::StateFile(Instrument& instrument, std::string path)
    : instrument_(instrument), path_(std::move(path)) {}

std::optional<std::string> StateFile::load() {
    std::lock_guard lock(m_);
    FileSystem& fs = realFileSystem();
    if (!fs.exists(path_))
        return std::nullopt;
    const auto text = fs.readAll(path_);
    if (!text)
        return path_ + ": cannot be read (a readable file of at most 1 MiB is needed)";
    if (auto why = instrument_.loadState(*text))
        return path_ + ", " + *why + " (the file is left as it is)";
    held_ = instrument_.stateText();
    return std::nullopt;
}

std::optional<std::string> StateFile::save() {
    std::lock_guard lock(m_);
    const std::string text = instrument_.stateText();
    if (held_ == text)
        return std::nullopt;
    Instrument check(instrument_.generation());
    const auto refused = check.loadState(text);
    const std::string differs = refused ? *refused : firstDifference(check, instrument_);
    if (!differs.empty())
        return path_ + " not written: the values would not read back the same (" + differs + ")";
    if (!replaceFileContent(realFileSystem(), path_, std::string(Header) + text))
        return path_ + ": cannot be written";
    held_ = text;
    return std::nullopt;
}

} // namespace pp::sim
