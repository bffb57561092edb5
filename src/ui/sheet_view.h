// The two tab pages, built by walking the parameter catalogue. User input goes straight to the
// sheet (which runs the editing rules); mirror() then copies the sheet back into the widgets.
// The widgets never hold the truth.
#pragma once

#include "sheet/sheet.h"

#include <QObject>

#include <array>
#include <functional>
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

    // Copies the whole sheet into the widgets, setting only what differs, signals blocked.
    void mirror();

    QPushButton* cmdSDUpload() const { return cmdSDUpload_; }
    QPushButton* cmdSDDnLoad() const { return cmdSDDnLoad_; }
    QPushButton* cmdPartUpload() const { return cmdPartUpload_; }
    QPushButton* cmdPartDnload() const { return cmdPartDnload_; }
    QPushButton* cmdSDCompare() const { return cmdSDCompare_; }
    QPushButton* cmdPartCompare() const { return cmdPartCompare_; }
    QComboBox* cmbParts() const { return cmbParts_; }

signals:
    // The user changed the sheet through a control; the sheet's rules have run.
    void edited();
    // The user picked an entry of the part selector; the sheet's selection is already set.
    void partChosen();

private:
    struct Controls {
        QGroupBox* frame = nullptr;
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
                          std::string_view slider, std::function<void(int)> apply);
    void connectSlider(QScrollBar* bar, std::function<void(int)> apply);
    void mirrorControls(const Controls& c, const std::string& text, const pp::Slider* slider,
                        int option, bool enabled);
    void mirrorPartSelector();

    pp::Sheet& sheet_;
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
