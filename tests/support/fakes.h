// Recording stand-ins for the session's serial port, timer and window. They remember what
// they were asked to do and answer from a script, so tests can drive the session by hand.
#pragma once

#include "link/platform.h"
#include "link/session.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace pp::test {

class FakeSerialPort : public SerialPort {
public:
    // ---- script
    bool failOpen = false;                  // every open fails
    std::string openError = "no such port"; // lastError() after a failed open
    int failWriteAt = -1;                   // the write with this 0-based number fails
    bool failWrites = false;                // every write from now on fails

    // ---- record
    std::vector<std::string> writes; // successful writes, in order
    std::vector<int> openedNumbers;  // port number at each successful open
    int openCalls = 0;
    int closeCalls = 0; // closes of an open port
    int writeCalls = 0;

    void setPortNumber(int number) override { number_ = number; }
    int portNumber() const override { return number_; }

    bool open() override {
        ++openCalls;
        if (open_) {
            error_ = "device is already open"; // like QSerialPort: refused, stays open
            return false;
        }
        if (failOpen) {
            error_ = openError;
            return false;
        }
        error_.clear();
        open_ = true;
        openedNumbers.push_back(number_);
        return true;
    }

    void close() override {
        if (open_)
            ++closeCalls;
        open_ = false;
    }

    bool isOpen() const override { return open_; }

    bool write(std::string_view bytes) override {
        const int n = writeCalls++;
        if (!open_ || failWrites || n == failWriteAt) {
            error_ = "write failed";
            return false;
        }
        writes.emplace_back(bytes);
        return true;
    }

    std::string lastError() const override { return error_; }

    // Test set-up: open without counting it as the session's doing.
    void forceOpen() { open_ = true; }

private:
    int number_ = 1;
    bool open_ = false;
    std::string error_;
};

class FakeTimer : public OneShotTimer {
public:
    std::vector<int> starts; // interval of every start, in order
    int stops = 0;           // stops of a running timer

    void start(int ms) override {
        starts.push_back(ms);
        running_ = true;
    }
    void stop() override {
        if (running_)
            ++stops;
        running_ = false;
    }
    bool isRunning() const override { return running_; }

    // Lets the interval pass: calls the owner's expiry handler if the timer is running.
    template <class Owner> bool expire(Owner& owner) {
        if (!running_)
            return false;
        running_ = false;
        owner.Timer1_Timer();
        return true;
    }

private:
    bool running_ = false;
};

class FakeWindow : public Window {
public:
    struct Message {
        std::string text;
        Buttons buttons;
        std::string caption;
    };

    // ---- script
    std::deque<Answer> answers;                       // answers to the next message boxes, in order
    Answer yesNoDefault = Answer::Yes;                // when the script has run out
    std::deque<std::optional<std::string>> openFiles; // results of chooseOpenFile
    std::deque<std::optional<std::string>> saveFiles; // results of chooseSaveFile

    // ---- record
    std::vector<std::string> statuses; // every text set into status panel 1
    std::vector<Message> messages;
    std::vector<std::string> suggestedNames; // passed to chooseSaveFile
    int openDialogs = 0;                     // calls of chooseOpenFile

    void setStatus(std::string_view text) override {
        status_ = text;
        statuses.push_back(status_);
    }
    std::string status() const override { return status_; }

    Answer message(std::string_view text, Buttons buttons = Buttons::Ok,
                   std::string_view caption = AppTitle) override {
        messages.push_back({std::string(text), buttons, std::string(caption)});
        if (!answers.empty()) {
            Answer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == Buttons::Ok ? Answer::Ok : yesNoDefault;
    }

    std::optional<std::string> chooseOpenFile() override {
        ++openDialogs;
        if (openFiles.empty())
            return std::nullopt;
        auto f = openFiles.front();
        openFiles.pop_front();
        return f;
    }

    std::optional<std::string> chooseSaveFile(std::string_view suggestedName) override {
        suggestedNames.emplace_back(suggestedName);
        if (saveFiles.empty())
            return std::nullopt;
        auto f = saveFiles.front();
        saveFiles.pop_front();
        return f;
    }

    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : messages)
            texts.push_back(m.text);
        return texts;
    }

    // Yes/No questions asked so far.
    int questions() const {
        int n = 0;
        for (const auto& m : messages)
            n += m.buttons == Buttons::YesNo;
        return n;
    }

private:
    std::string status_;
};

// What the user must read, written out here rather than taken from the program, so a changed
// text in the program fails the tests.
namespace expected {
inline constexpr std::string_view Success = "SUCCESS";
inline constexpr std::string_view NoResponse = "Error - No response from QX7400";
inline constexpr std::string_view NakReceived = "Error - NAK received from leak unit";
inline constexpr std::string_view CheckMode = "Check QX7400 operating mode!";
inline constexpr std::string_view PortLost = "Error - Comm port connection lost";
inline constexpr std::string_view SystemDone = "System Download successfully completed";
inline constexpr std::string_view PartDone = "Part Download successfully completed";
inline constexpr std::string_view ChecksumError = "Check sum error";
inline constexpr std::string_view WrongPart = "ERROR - Invalid part number";
} // namespace expected

// Records the mode reports and part lists the session hands over.
struct RecordingListener : ModeListener {
    std::vector<std::string> modes, lists;
    void ProcessModeData(const std::string& buffer) override { modes.push_back(buffer); }
    void ProcessPartsList(const std::string& buf) override { lists.push_back(buf); }
};

// An outcome no exchange has: "nothing ended in time".
inline constexpr auto NoEnd = static_cast<Outcome>(-1);

} // namespace pp::test
