#include "session.h"

namespace pp {

// Placeholder; the response machine is filled in by the link work.
Session::Session(Sheet& sheet, SerialPort& port, OneShotTimer& timer, Window& window)
    : sheet_(&sheet), port_(port), timer_(timer), window_(window) {}
void Session::cmdSDUpload_Click() {}
void Session::cmdPartUpload_Click() {}
void Session::cmdSDDnLoad_Click() {}
void Session::cmdPartDnload_Click() {}
bool Session::requestPartList() { return false; }
bool Session::requestMode() { return false; }
bool Session::requestModeChange(char) { return false; }
void Session::received(std::string_view) {}
void Session::lineError(LineError) {}
void Session::portLost(std::string_view) {}
void Session::writeFailed() {}
void Session::Timer1_Timer() {}
void Session::SendDownloadField() {}

} // namespace pp
