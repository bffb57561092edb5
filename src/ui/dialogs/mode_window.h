// The instrument's operating mode and its list of configured part numbers. The check boxes are
// the user's working copy of the list; CLOSE carries them over into the part selector.
#pragma once

#include "link/session.h"

#include <QDialog>

#include <array>
#include <string>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace pp::ui {

class ModeWindow : public QDialog, public pp::ModeListener {
    Q_OBJECT
public:
    static constexpr int PartBoxes = 32;

    ModeWindow(pp::Sheet& sheet, pp::Session& session, pp::Window& window,
               QWidget* parent = nullptr);

    void cmdQuery_Click();
    void cmdReqMode_Click();
    void cmdSetMode_Click();
    void cmdClose_Click();

    void ProcessModeData(const std::string& buffer) override;
    void ProcessPartsList(const std::string& buf) override;

    QCheckBox* partBox(int i) const { return boxes_[static_cast<size_t>(i)]; }

signals:
    // The part selector's list was changed by this window (CLOSE).
    void partListChanged();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();

    pp::Sheet& sheet_;
    pp::Session& session_;
    pp::Window& window_;
    std::array<QCheckBox*, PartBoxes> boxes_{};
    QLineEdit* txtCurrentMode_ = nullptr;
    std::array<QRadioButton*, 4> modes_{}; // optSetUp, optCal, optRun, optData: digits 0..3
};

} // namespace pp::ui
