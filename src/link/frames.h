// Bytes on the wire: control characters, padding, checksum and the command frames.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pp {

inline constexpr char STX = '\x02';
inline constexpr char ETX = '\x03';
inline constexpr char ACK = '\x06';
inline constexpr char NAK = '\x15';

// Left-pads with "0" to `width`; a "-" stays in front of the zeros and counts towards the
// width. Never shortens.
std::string ZeroPad(std::string_view text, int width);

// 1 plus the sum of the character codes (0..255). Not truncated: a sum beyond 16 bits
// simply never matches a received 16-bit checksum.
int FrameChecksum(std::string_view text);

std::string frame(std::string_view content);

std::string systemUploadFrame();                          // STX "2" ETX
std::string partUploadFrame(std::string_view partNumber); // STX "3" nn ETX
std::string readModeFrame();                              // STX "8" ETX
std::string setModeFrame(char mode);                      // STX "9" m ETX
std::string partListFrame();                              // STX "A" ETX

// One download field: STX cmd value(6) [part(2)] index(2) checksum(4) ETX.
// `partNumber` is used for the part command "5" only.
std::string downloadFieldFrame(char command, std::string_view valueText,
                               std::string_view partNumber, int index);

// Checks an uploaded record whose field `checksumField` (0-based, fields split at ",")
// holds the checksum of everything before it, that comma included. A record without that
// field compares against 0, as the instrument's older editors did.
bool recordChecksumValid(std::string_view record, int checksumField);

} // namespace pp
