// Writes the seed corpora of the fuzz targets from the simulated instrument's records, so the
// seeds are real exchanges and real files. Run once after a protocol change and commit the
// result: make_seeds <fuzz/corpus>
#include "fakes.h"
#include "files/param_file.h"
#include "link/frames.h"
#include "link/records.h"
#include "sim/instrument.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace pp;
namespace fs = std::filesystem;

namespace {

fs::path root;

void put(const std::string& target, const std::string& name, const std::string& bytes) {
    const fs::path dir = root / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

// ---- the session target's commands

std::string recv(std::string_view bytes) {
    std::string out;
    while (!bytes.empty()) {
        const size_t n = std::min<size_t>(bytes.size(), 255);
        out += 'r';
        out += static_cast<char>(n);
        out += bytes.substr(0, n);
        bytes.remove_prefix(n);
    }
    return out;
}

std::string counted(char op, std::string_view text) {
    return std::string(1, op) + static_cast<char>(text.size()) + std::string(text);
}

std::string acks(int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += recv(std::string(1, ACK));
    return out;
}

struct Records {
    std::string system;
    std::string part5;
    std::string part2;
};

Records recordsOf(Generation g) {
    sim::Instrument instrument(g);
    return {instrument.systemRecord(), instrument.partRecord(5), instrument.partRecord(2)};
}

// The body of a record without its checksum, for the "S"/"P" steps that append it.
std::string body(const std::string& record) {
    return record.substr(0, record.rfind(',') + 1);
}

Sheet uploaded(const Records& r, const std::string& part) {
    Sheet sheet;
    DecodeSystemRecord(sheet, r.system);
    sheet.setPartSelection(part);
    DecodePartRecord(sheet, part == "05" ? r.part5 : r.part2);
    return sheet;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    root = argv[1];

    for (Generation g : {Generation::V70, Generation::V73}) {
        const Records r = recordsOf(g);
        const std::string tag = g == Generation::V70 ? "v70" : "v73";
        const int lastSys = g == Generation::V70 ? 24 : 25;
        const int lastPart = g == Generation::V70 ? 27 : 29;
        const std::string sysUp = "u" + recv(frame(r.system));
        const std::string partUp = counted('s', "05") + "p" + recv(frame(r.part5));

        // ---- session
        put("session", tag + "-system-upload", sysUp);
        put("session", tag + "-part-upload", sysUp + partUp);
        put("session", tag + "-system-download",
            sysUp + "d" + acks(lastSys + 1) + recv(frame("4")));
        put("session", tag + "-part-download",
            sysUp + partUp + "q" + acks(lastPart + 1) + recv(frame("5")));
        put("session", tag + "-nak-mid-download", sysUp + "d" + acks(7) + recv("\x15") + "u");
        put("session", tag + "-silence-mid-download", sysUp + partUp + "q" + acks(12) + "t");
        put("session", tag + "-split-noisy-upload",
            "u" + recv("\x7f noise") + recv(frame(r.system).substr(0, 20)) + "e\x01" +
                recv(frame(r.system).substr(20)));
        put("session", tag + "-bad-checksum",
            sysUp + partUp + counted('s', "05") + "p" + recv(frame(r.part5 + "1")));
        put("session", tag + "-lost-mid-download", sysUp + "d" + acks(3) + "x" + "u" + "t");

        // ---- records
        put("records", tag + "-system-part",
            "s" + r.system + "\nn05\np" + r.part5 + "\nn02\np" + r.part2 + "\n");
        put("records", tag + "-fixed-checksum",
            "S" + body(r.system) + "\nn05\nP" + body(r.part5) + "\n");
        put("records", tag + "-edited-then-record",
            "s" + r.system + std::string("\nV\x0c\x00\x96\nt\x0f", 8) + "2\nn02\np" + r.part2 +
                "\n");

        // ---- parameter files
        const std::string file5 = ParamFileText(uploaded(r, "05"));
        const std::string file2 = ParamFileText(uploaded(r, "02"));
        put("param_file", tag + "-part05", std::string("\0\1", 2) + file5);
        put("param_file", tag + "-part02-over-sheet",
            "s" + r.system + "\nn05\np" + r.part5 + std::string("\n\0\0", 3) + file2);
        put("param_file", tag + "-cut-short", std::string("\0\0", 2) + file5.substr(0, 200));

        // ---- history entries: a part upload and a system upload as the recorder keeps them
        Sheet system;
        DecodeSystemRecord(system, r.system);
        put("history", tag + "-part05", std::string("\0\1", 2) + file5);
        put("history", tag + "-system", std::string("\0\0", 2) + ParamFileText(system));
        put("history", tag + "-system-over-part",
            "s" + r.system + "\nn05\np" + r.part5 + std::string("\n\0\2", 3) +
                ParamFileText(system));
    }

    // ---- settings
    put("settings", "app-quoted", std::string("\x06\x00\x03", 3) + "\"3\"\r\n");
    put("settings", "config-only", std::string("\x0b\x00\x02", 3) + "\"5\"\r\n");
    put("settings", "bare-number", std::string("\x06\x00\x04", 3) + "2\r\n");
    put("settings", "failing-save", std::string("\x97\x00\x05", 3) + "\"4\",\"x\"\r\n");

    // ---- command line
    const std::vector<std::pair<std::string, std::vector<std::string>>> lines{
        {"read", {"--port", "2", "read", "5", "-o", "part05.QX"}},
        {"write", {"--port=/dev/ttyUSB0", "write", "part05.QX", "--convert", "yes"}},
        {"mode", {"mode", "run"}},
        {"parts", {"parts"}},
        {"backup", {"--port", "/dev/ttyS1", "backup", "--dir", "backups/"}},
        {"help", {"--help"}},
        {"dashes", {"write", "--", "--odd.QX"}},
        {"diff", {"diff", "a.QX", "b.QX"}},
        {"verify", {"--port", "1", "verify", "part05.QX"}},
        {"report", {"report", "part05.QX", "-o", "part05.pdf", "--convert", "no"}},
        {"history", {"--history", "h.sqlite", "history", "--part", "5", "--limit", "20", "--json"}},
        {"history-export", {"history", "--export", "12", "-o", "part05.QX"}},
        {"history-diff", {"history", "--diff", "3", "5"}},
    };
    for (const auto& [name, args] : lines) {
        std::string bytes;
        for (size_t i = 0; i < args.size(); ++i)
            bytes += (i ? std::string(1, '\0') : std::string()) + args[i];
        put("cli", name, bytes);
    }
    return 0;
}
