#include "frames.h"

#include "sheet/number_text.h"

namespace pp {

std::string ZeroPad(std::string_view text, int width) {
    size_t dash = text.find('-');
    if (dash != std::string_view::npos) {
        std::string_view digits = text.substr(dash + 1);
        int n = width - static_cast<int>(digits.size()) - 1;
        return "-" + std::string(n > 0 ? static_cast<size_t>(n) : 0, '0') + std::string(digits);
    }
    int n = width - static_cast<int>(text.size());
    return std::string(n > 0 ? static_cast<size_t>(n) : 0, '0') + std::string(text);
}

int FrameChecksum(std::string_view text) {
    int sum = 1;
    for (char c : text)
        sum += static_cast<unsigned char>(c);
    return sum;
}

std::string frame(std::string_view content) {
    std::string f;
    f.reserve(content.size() + 2);
    f += STX;
    f += content;
    f += ETX;
    return f;
}

std::string systemUploadFrame() { return frame("2"); }
std::string partUploadFrame(std::string_view partNumber) {
    return frame("3" + std::string(partNumber));
}
std::string readModeFrame() { return frame("8"); }
std::string setModeFrame(char mode) { return frame(std::string("9") + mode); }
std::string partListFrame() { return frame("A"); }

std::string downloadFieldFrame(char command, std::string_view valueText,
                               std::string_view partNumber, int index) {
    std::string content(1, command);
    content += ZeroPad(valueText, 6);
    if (command == '5')
        content += ZeroPad(partNumber, 2);
    content += ZeroPad(std::to_string(index), 2);
    return frame(content + ZeroPad(std::to_string(FrameChecksum(content)), 4));
}

bool recordChecksumValid(std::string_view record, int checksumField) {
    // Locate the start of field `checksumField`.
    size_t start = 0;
    int field = 0;
    while (field < checksumField) {
        size_t comma = record.find(',', start);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
        ++field;
    }
    int received = 0;
    std::string_view covered = record;
    if (field == checksumField) {
        size_t end = record.find(',', start);
        std::string_view text = record.substr(start, end == std::string_view::npos
                                                         ? std::string_view::npos
                                                         : end - start);
        auto value = toInt16(text);
        if (!value)
            return false;
        received = *value;
        // The covered text is the record with the checksum field's characters cut off its end.
        if (text.size() > record.size())
            return false;
        covered = record.substr(0, record.size() - text.size());
    }
    return FrameChecksum(covered) == received;
}

} // namespace pp
