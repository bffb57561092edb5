// The window as the session and the file commands see it: status panel 1, message boxes and
// the parameter file dialog. Tests install hooks so nothing modal ever blocks them.
#pragma once

#include "link/platform.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QMessageBox;
class QWidget;

namespace pp::ui {

class QtWindow : public pp::Window {
public:
    using MessageHook =
        std::function<pp::Answer(const QString& text, pp::Buttons buttons, const QString& caption)>;
    // save = false for Open; `suggested` is the preset file name. nullopt means cancelled.
    using FileHook = std::function<std::optional<QString>(bool save, const QString& suggested)>;
    // The reason asked before a download; nullopt means cancelled.
    using ReasonHook = std::function<std::optional<QString>(const std::vector<std::string>& reasons,
                                                            bool required)>;

    explicit QtWindow(QWidget* parent = nullptr);

    void setParentWidget(QWidget* parent) { parent_ = parent; }
    void setStatusLabel(QLabel* panel1);

    void setStatus(std::string_view text) override;
    std::string status() const override { return status_; }
    pp::Answer message(std::string_view text, pp::Buttons buttons = pp::Buttons::Ok,
                       std::string_view caption = pp::AppTitle) override;
    std::optional<std::string> chooseOpenFile() override;
    std::optional<std::string> chooseSaveFile(std::string_view suggestedName) override;

    // The box message() shows, built but not run (the screenshot tool grabs it as it is).
    static std::unique_ptr<QMessageBox> makeBox(std::string_view text, pp::Buttons buttons,
                                                std::string_view caption = pp::AppTitle,
                                                QWidget* parent = nullptr);

    void setMessageHook(MessageHook hook) { messageHook_ = std::move(hook); }
    void setFileHook(FileHook hook) { fileHook_ = std::move(hook); }
    void setReasonHook(ReasonHook hook) { reasonHook_ = std::move(hook); }

    // "Reason for the Download" with the plant's reasons; nullopt when cancelled.
    std::optional<std::string> askReason(const std::vector<std::string>& reasons, bool required);

    // The folder the file dialog starts in.
    void setInitialFolder(const QString& folder) { folder_ = folder; }
    const QString& initialFolder() const { return folder_; }
    // The dialog keeps its file-name field between uses, for Open and Save As alike.
    const QString& lastFileName() const { return lastName_; }

    static QString fileFilter() { return QStringLiteral("QX7400 (*.QX)"); }

private:
    std::optional<QString> runFileDialog(bool save, const QString& preset);

    QPointer<QWidget> parent_;
    QPointer<QLabel> panel1_;
    std::string status_;
    MessageHook messageHook_;
    FileHook fileHook_;
    ReasonHook reasonHook_;
    QString folder_;
    QString lastName_;
};

} // namespace pp::ui
