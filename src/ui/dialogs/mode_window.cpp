#include "ui/dialogs/mode_window.h"

#include "link/frames.h"
#include "link/mode.h"
#include "link/status_texts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace pp::ui {

namespace {

// The option button of each operating mode, in the order of the modes.
constexpr std::array<const char*, 4> ModeButtons{"optSetUp", "optCal", "optRun", "optData"};

std::string partText(int i) {
    return pp::ZeroPad(std::to_string(i + 1), 2);
}

} // namespace

ModeWindow::ModeWindow(pp::Sheet& sheet, pp::Session& session, pp::Window& window, QWidget* parent)
    : QDialog(parent), sheet_(sheet), session_(session), window_(window) {
    setObjectName(QStringLiteral("FormQX7400"));
    setWindowTitle(QStringLiteral("QX7400 "));
    setModal(true);

    // ---- configured part numbers
    auto* frame2 = new QGroupBox(QStringLiteral("Coinfigure Part Numbers for QX7400"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(4);
    constexpr int Rows = 8;
    for (int i = 0; i < PartBoxes; ++i) {
        auto* box = new QCheckBox(QStringLiteral("Part #%1").arg(i + 1), frame2);
        box->setObjectName(QStringLiteral("Check1_%1").arg(i));
        grid->addWidget(box, i % Rows, i / Rows);
        boxes_[static_cast<size_t>(i)] = box;
    }
    auto* cmdQuery = new QPushButton(QStringLiteral("Query QX7400"), frame2);
    cmdQuery->setObjectName(QStringLiteral("cmdQuery"));
    auto* cmdClose = new QPushButton(QStringLiteral("CLOSE"), frame2);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    auto* partButtons = new QHBoxLayout;
    partButtons->addWidget(cmdQuery);
    partButtons->addStretch(1);
    partButtons->addWidget(cmdClose);
    auto* frame2Layout = new QVBoxLayout(frame2);
    frame2Layout->addLayout(grid);
    frame2Layout->addSpacing(8);
    frame2Layout->addLayout(partButtons);

    // ---- operating mode
    auto* frame1 = new QGroupBox(QStringLiteral("QX7400 Operating Mode"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    txtCurrentMode_ = new QLineEdit(frame1);
    txtCurrentMode_->setObjectName(QStringLiteral("txtCurrentMode"));
    txtCurrentMode_->setReadOnly(true);
    txtCurrentMode_->setAlignment(Qt::AlignCenter);
    auto* group = new QButtonGroup(this);
    auto* frame1Layout = new QVBoxLayout(frame1);
    frame1Layout->addWidget(txtCurrentMode_);
    frame1Layout->addSpacing(4);
    for (size_t m = 0; m < modes_.size(); ++m) {
        const std::string_view name = pp::operatingModes()[m].name;
        auto* option = new QRadioButton(
            QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())), frame1);
        option->setObjectName(QString::fromLatin1(ModeButtons[m]));
        group->addButton(option, static_cast<int>(m));
        frame1Layout->addWidget(option);
        modes_[m] = option;
    }
    frame1Layout->addStretch(1);
    auto* cmdReqMode = new QPushButton(QStringLiteral("Get Current Mode"), frame1);
    cmdReqMode->setObjectName(QStringLiteral("cmdReqMode"));
    auto* cmdSetMode = new QPushButton(QStringLiteral("Change Mode"), frame1);
    cmdSetMode->setObjectName(QStringLiteral("cmdSetMode"));
    frame1Layout->addWidget(cmdReqMode);
    frame1Layout->addWidget(cmdSetMode);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(frame2, 1);
    layout->addWidget(frame1);

    connect(cmdQuery, &QPushButton::clicked, this, &ModeWindow::cmdQuery_Click);
    connect(cmdClose, &QPushButton::clicked, this, &ModeWindow::cmdClose_Click);
    connect(cmdReqMode, &QPushButton::clicked, this, &ModeWindow::cmdReqMode_Click);
    connect(cmdSetMode, &QPushButton::clicked, this, &ModeWindow::cmdSetMode_Click);

    Form_Load();
}

// Closing by the title bar ends the window (the next use builds it again). CLOSE and Escape
// only hide it, so it keeps the mode, the chosen mode button and the ticks until shut-down;
// the attribute that deletes on close would also destroy it after every exec().
void ModeWindow::closeEvent(QCloseEvent* event) {
    QDialog::closeEvent(event);
    if (event->isAccepted())
        deleteLater();
}

void ModeWindow::Form_Load() {
    // Box i stands for part number i + 1: show which of them the part selector holds.
    const auto& list = sheet_.partNumbers();
    for (int i = 0; i < PartBoxes; ++i) {
        const bool held = std::find(list.begin(), list.end(), partText(i)) != list.end();
        boxes_[static_cast<size_t>(i)]->setChecked(held);
    }
}

void ModeWindow::cmdQuery_Click() {
    session_.requestPartList();
}

void ModeWindow::cmdReqMode_Click() {
    session_.requestMode();
}

void ModeWindow::cmdSetMode_Click() {
    // Tested in this order; no selection sends "?", which the instrument refuses.
    char mode = '?';
    if (modes_[0]->isChecked())
        mode = '0';
    else if (modes_[2]->isChecked())
        mode = '2';
    else if (modes_[1]->isChecked())
        mode = '1';
    else if (modes_[3]->isChecked())
        mode = '3';
    session_.requestModeChange(mode);
}

void ModeWindow::cmdClose_Click() {
    for (int i = 0; i < PartBoxes; ++i) {
        if (boxes_[static_cast<size_t>(i)]->isChecked())
            sheet_.AddPartNumber(partText(i));
        else
            sheet_.RemovePartNumber(partText(i));
    }
    hide();
    emit partListChanged();
}

void ModeWindow::ProcessModeData(const std::string& buffer) {
    const pp::ModeReport report = pp::readModeReport(buffer);
    for (size_t m = 0; m < modes_.size(); ++m) {
        const pp::OperatingMode& mode = pp::operatingModes()[m];
        if (report.digit == mode.digit) {
            txtCurrentMode_->setText(
                QString::fromLatin1(mode.name.data(), static_cast<qsizetype>(mode.name.size())));
            modes_[m]->setChecked(true);
            break;
        }
    }
    if (report.testRunning)
        window_.message(pp::text::TestInProgress);
}

void ModeWindow::ProcessPartsList(const std::string& buf) {
    for (int i = 0; i < PartBoxes; ++i) {
        const bool configured = pp::partConfigured(buf, i + 1);
        boxes_[static_cast<size_t>(i)]->setChecked(configured);
        if (configured)
            sheet_.AddPartNumber(partText(i));
        else
            sheet_.RemovePartNumber(partText(i));
    }
}

} // namespace pp::ui
