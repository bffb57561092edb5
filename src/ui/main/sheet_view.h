// The two tab pages, built by walking the parameter catalogue. User input goes straight to the
// sheet (which runs the editing rules); mirror() then copies the sheet back into the widgets.
// The widgets never hold the truth.
#pragma once

#include "sheet/baseline.h"
#include "sheet/sheet.h"

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

class QRadioButton;
class QScrollBar;
class QWidget;

namespace pp::ui {

class SheetView : public QObject {
    Q_OBJECT
public:
    explicit SheetView(pp::Sheet& sheet, QObject* parent = nullptr);

    // Built once by the constructor; the caller puts them into the tab widget (which then
    // owns them).
    QWidget* systemPage() const { return systemPage_; }
    QWidget* partPage() const { return partPage_; }

    // Copies what changed in the sheet since the last mirror into the widgets, signals
    // blocked; the first mirror copies everything.
    void mirror();
    // Changed-value marks: caption bold, a marker in the palette's highlight colour, and the
    // instrument's text in the tooltip ("Uploaded: 7.5").
    void setMarks(const pp::Marks& marks);
    const pp::Marks& marks() const { return marks_; }

    QPushButton* cmdSDUpload() const { return cmdSDUpload_; }
    QPushButton* cmdSDDnLoad() const { return cmdSDDnLoad_; }
    QPushButton* cmdPartUpload() const { return cmdPartUpload_; }
    QPushButton* cmdPartDnload() const { return cmdPartDnload_; }
    QPushButton* cmdSDCompare() const { return cmdSDCompare_; }
    QPushButton* cmdPartCompare() const { return cmdPartCompare_; }
    QComboBox* cmbParts() const { return cmbParts_; }

    // The tooltip that marks a changed value.
    static QString uploadedTip(const std::string& uploaded);
    // "Uploaded: 7.5", "Approved: 9", or both on two lines.
    static QString markTip(const std::optional<std::string>& uploaded,
                           const std::optional<std::string>& approved);

signals:
    // A control is about to change the sheet (the sheet is still as it was).
    void aboutToEdit();
    // The user changed the sheet through a control; the sheet's rules have run. `step` names
    // the change (the parameter's caption); `typing` is a key typed into the customer code.
    void edited(const QString& step, bool typing);
    // The customer code lost the focus or took Enter: a run of typing ended.
    void typingEnded();
    // A typed value was refused; its text is back. The message names the range.
    void valueRefused(const QString& message);
    // The user picked an entry of the part selector; the sheet's selection is already set.
    void partChosen();

private:
    struct Controls {
        QGroupBox* frame = nullptr;
        QLabel* label = nullptr;   // the option block's caption (it has no frame of its own)
        QWidget* marker = nullptr; // shown while the value differs from the instrument's
        QLineEdit* text = nullptr;
        QScrollBar* slider = nullptr;
        QButtonGroup* group = nullptr;
        std::array<QRadioButton*, 3> options{};
        int optionCount = 0;
    };

    void buildSystemPage();
    void buildPartPage();
    Controls buildSystemFrame(const pp::SysRow& row, QWidget* parent);
    Controls buildPartFrame(const pp::PartRow& row, QWidget* parent);
    void addOptions(Controls& c, QHBoxLayout* row, std::string_view textBox,
                    std::span<const std::string_view> options,
                    std::span<const std::string_view> states, std::function<void(int)> select);
    void addTextAndSlider(Controls& c, QHBoxLayout* row, std::string_view textBox,
                          std::string_view slider, const QString& step,
                          std::function<void(int)> apply);
    void connectSlider(QScrollBar* bar, const QString& step, std::function<void(int)> apply);
    template <typename Id> void connectTyped(Controls& c, Id id);
    template <typename Id> void applyTyped(Id id);
    void mirrorControls(const Controls& c, const std::string& text, const pp::Slider* slider,
                        int option, bool enabled);
    void mirrorPartSelector();
    void mirrorTips(bool rangesChanged);
    QString rangeTip(const pp::SysRow& r) const;
    QString rangeTip(const pp::PartRow& r) const;
    void showMark(const Controls& c, const std::optional<std::string>& uploaded,
                  const std::optional<std::string>& approved);
    Controls& controls(pp::Sys id) { return sys_[static_cast<size_t>(id)]; }
    Controls& controls(pp::Part id) { return part_[static_cast<size_t>(id)]; }
    void setDirty(pp::Sys id) { sysDirty_[static_cast<size_t>(id)] = true; }
    void setDirty(pp::Part id) { partDirty_[static_cast<size_t>(id)] = true; }

    pp::Sheet& sheet_;
    std::optional<pp::Sheet> shown_;            // the sheet as last mirrored
    std::array<bool, pp::SysCount> sysDirty_{}; // touched by the user: mirror whatever changed
    std::array<bool, pp::PartCount> partDirty_{};
    bool selectorDirty_ = false;
    bool selectorTyped_ = false; // the selector's own box changed the selection
    pp::Marks marks_;
    std::string scaleKey_; // what the ranges in the tooltips depend on
    QWidget* systemPage_ = nullptr;
    QWidget* partPage_ = nullptr;
    std::array<Controls, pp::SysCount> sys_{};
    std::array<Controls, pp::PartCount> part_{};
    QPushButton* cmdTime_ = nullptr;
    QPushButton* cmdSDUpload_ = nullptr;
    QPushButton* cmdSDDnLoad_ = nullptr;
    QPushButton* cmdPartUpload_ = nullptr;
    QPushButton* cmdPartDnload_ = nullptr;
    QPushButton* cmdSDCompare_ = nullptr;
    QPushButton* cmdPartCompare_ = nullptr;
    QComboBox* cmbParts_ = nullptr;
};

} // namespace pp::ui
