// The platform interfaces the core acts through: the serial port, the one-shot timer, the window
// (status panel, message boxes, its title) and a quiet window for work that must not show. Qt
// implements them with QSerialPort, QTimer and real dialogs; tests with recording fakes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pp {

class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual void setPortNumber(int number) = 0; // COMM number, assigned before opening
    virtual int portNumber() const = 0;
    virtual bool open() = 0; // 9600,N,8,1; false when the port cannot be opened
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool write(std::string_view bytes) = 0;      // false when the write failed
    virtual std::string lastError() const { return {}; } // the system's reason, if known
};

class OneShotTimer {
public:
    virtual ~OneShotTimer() = default;
    virtual void start(int ms) = 0; // restarts when running
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

// SaveDiscardCancel: the question before edited values would be replaced; DiscardCancel is the
// same question when there is nothing the values could be saved into (Save shown unavailable).
// NoYes: Yes and No with No the default, for a question whose Yes cannot be taken back.
enum class Buttons { Ok, YesNo, NoYes, SaveDiscardCancel, DiscardCancel };
enum class Answer { Ok, Yes, No, Save, Discard, Cancel };

inline constexpr std::string_view AppTitle = "ParamPorter";

// The window as the core sees it: status panel 1 and message boxes. Enabled states, the
// generation text (panel 2) and the file path (panel 3) are sheet data the window mirrors.
class Window {
public:
    virtual ~Window() = default;
    virtual void setStatus(std::string_view text) = 0; // status panel 1
    virtual std::string status() const = 0;
    virtual Answer message(std::string_view text, Buttons buttons = Buttons::Ok,
                           std::string_view caption = AppTitle) = 0;
    // File dialogs (filter "QX7400|*.QX"); nullopt when cancelled.
    virtual std::optional<std::string> chooseOpenFile() { return std::nullopt; }
    virtual std::optional<std::string> chooseSaveFile(std::string_view /*suggestedName*/) {
        return std::nullopt;
    }
};

// Work that shows nothing: status panel 1 is kept here, message boxes are recorded, and a
// question is answered No (nothing converted, nothing replaced).
class QuietWindow : public Window {
public:
    std::vector<std::string> messages;
    void setStatus(std::string_view text) override { status_ = text; }
    std::string status() const override { return status_; }
    Answer message(std::string_view text, Buttons buttons, std::string_view) override {
        messages.emplace_back(text);
        return buttons == Buttons::Ok ? Answer::Ok : Answer::No;
    }

private:
    std::string status_;
};

} // namespace pp
