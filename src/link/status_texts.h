// The link's own words, shown in status panel 1 and message boxes (and on the command
// line's stderr). One place, so the window and the command line never drift apart.
#pragma once

#include <string_view>

namespace pp::text {

inline constexpr std::string_view Success = "SUCCESS";
inline constexpr std::string_view CantOpenPort = "Can't open comm port! Please Try Again";
inline constexpr std::string_view CantOpenPortMode = "Can't open comm port!";
inline constexpr std::string_view NoResponse = "Error - No response from QX7400";
inline constexpr std::string_view NakReceived = "Error - NAK received from leak unit";
inline constexpr std::string_view WriteFailed = "Error - Could not write to comm port";
inline constexpr std::string_view ConnectionLost = "Error - Comm port connection lost";
inline constexpr std::string_view RxOverflow = "Error - RX buffer overflow";
inline constexpr std::string_view CheckMode = "Check QX7400 operating mode!";
inline constexpr std::string_view SelectPartNumber = "Please select a part number";
inline constexpr std::string_view EnterCustomerCode = "Please enter a customer code";
inline constexpr std::string_view TestInProgress = "Test is in progress! Mode cannot be changed";
inline constexpr std::string_view SystemDownloadDone = "System Download successfully completed";
inline constexpr std::string_view PartDownloadDone = "Part Download successfully completed";
// The instrument's closing frame came while fields were still to be sent: it holds fewer than
// were meant for it (values of another firmware generation).
inline constexpr std::string_view DownloadEndedEarly =
    "Error - QX7400 ended the download before its last field";
// An exchange that went on longer than it can take on a working line (see exchangeBoundMs).
inline constexpr std::string_view TookTooLong = "Error - QX7400 answered too slowly";
// A part download of a sheet whose part values were never read or opened.
inline constexpr std::string_view PartValuesMissing =
    "Some part values are empty. Upload the part or open a parameter file before downloading.";
// A request while another exchange runs.
inline constexpr std::string_view WaitForTransfer =
    "Please wait until the transfer with QX7400 has ended.";
// Not a frame the exchange asked for (only the command line and scratch uploads say so).
inline constexpr std::string_view UnexpectedAnswer = "Error - unexpected answer from QX7400";

} // namespace pp::text
