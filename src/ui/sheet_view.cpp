#include "sheet_view.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>
#include <vector>

namespace pp::ui {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString frameName(std::string_view frame, std::string_view stem) {
    return frame.empty() ? QStringLiteral("frm") + qs(stem) : qs(frame);
}

// The option block is listed top to bottom as the instrument's option code reads.
constexpr pp::Sys OptionBlockOrder[] = {
    pp::Sys::OptionCode, pp::Sys::DateCode,   pp::Sys::Model,   pp::Sys::OptTempComp,
    pp::Sys::RefFailure, pp::Sys::OptSysZero, pp::Sys::CCooler, pp::Sys::Block,
};
constexpr int OptionBlockSlots = 5; // grid rows the option block takes

constexpr int SystemColumns = 3;
constexpr int PartColumns = 3;

// One width for every value box, wide enough for the longest option text.
int valueBoxWidth(const QWidget* w) {
    return w->fontMetrics().horizontalAdvance(QStringLiteral("N CLOSED")) + 12;
}

QGroupBox* newFrame(const QString& name, std::string_view caption, QWidget* parent) {
    auto* frame = new QGroupBox(qs(caption), parent);
    frame->setObjectName(name);
    return frame;
}

QHBoxLayout* frameRow(QGroupBox* frame) {
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(6, 1, 6, 4);
    row->setSpacing(4);
    return row;
}

QLineEdit* newValueBox(std::string_view name, bool readOnly, QWidget* parent) {
    auto* text = new QLineEdit(parent);
    text->setObjectName(qs(name));
    text->setReadOnly(readOnly);
    text->setFixedWidth(valueBoxWidth(text));
    if (readOnly)
        text->setFocusPolicy(Qt::ClickFocus); // selectable for copying, not a tab stop
    return text;
}

QScrollBar* newSlider(std::string_view name, QWidget* parent) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(qs(name));
    bar->setMinimumWidth(80);
    bar->setFocusPolicy(Qt::StrongFocus); // arrow keys step it like its arrows
    // A value, not a view: Right, Up and the wheel forward raise it (a scroll bar's default is
    // the other way round).
    bar->setInvertedControls(false);
    return bar;
}

// Places cells column by column, `rows` grid rows to a column; a cell that spans more rows
// than are left in a column starts the next one.
struct Cell {
    QWidget* widget;
    int span;
};
void flowIntoGrid(QGridLayout* grid, const std::vector<Cell>& cells, int rows) {
    int column = 0;
    int row = 0;
    for (const Cell& cell : cells) {
        if (row + cell.span > rows) {
            ++column;
            row = 0;
        }
        grid->addWidget(cell.widget, row, column, cell.span, 1);
        row += cell.span;
    }
}

// Columns share the width equally; a column is wider only when a frame needs it.
void equalColumns(QGridLayout* grid, int columns) {
    for (int col = 0; col < columns; ++col)
        grid->setColumnStretch(col, 1);
}

int rowsFor(const std::vector<Cell>& cells, int columns) {
    int total = 0;
    for (const Cell& cell : cells)
        total += cell.span;
    return (total + columns - 1) / columns;
}

QGridLayout* newPageGrid() {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    return grid;
}

QPushButton* newButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setMinimumWidth(150);
    return button;
}

std::tm localNow() {
    const QDateTime now = QDateTime::currentDateTime();
    std::tm tm{};
    tm.tm_year = now.date().year() - 1900;
    tm.tm_mon = now.date().month() - 1;
    tm.tm_mday = now.date().day();
    tm.tm_hour = now.time().hour();
    tm.tm_min = now.time().minute();
    tm.tm_sec = now.time().second();
    tm.tm_wday = now.date().dayOfWeek() % 7;
    tm.tm_yday = now.date().dayOfYear() - 1;
    tm.tm_isdst = -1;
    return tm;
}

} // namespace

SheetView::SheetView(pp::Sheet& sheet, QObject* parent) : QObject(parent), sheet_(sheet) {
    buildSystemPage();
    buildPartPage();
    mirror();
}

// A read-only text and its option buttons (captioned with the texts they produce); the
// catalogue leaves unused button names empty.
void SheetView::addOptions(Controls& c, QHBoxLayout* row, std::string_view textBox,
                           std::span<const std::string_view> options,
                           std::span<const std::string_view> states,
                           std::function<void(int)> select) {
    c.text = newValueBox(textBox, true, c.frame);
    row->addWidget(c.text);
    c.group = new QButtonGroup(c.frame);
    for (size_t i = 0; i < options.size() && !options[i].empty(); ++i) {
        auto* option = new QRadioButton(qs(states[i]), c.frame);
        option->setObjectName(qs(options[i]));
        c.group->addButton(option, static_cast<int>(i));
        c.options[i] = option;
        row->addWidget(option);
        ++c.optionCount;
    }
    row->addStretch(1);
    connect(c.group, &QButtonGroup::idClicked, this, [this, select](int which) {
        select(which);
        emit edited();
    });
}

void SheetView::addTextAndSlider(Controls& c, QHBoxLayout* row, std::string_view textBox,
                                 std::string_view slider, std::function<void(int)> apply) {
    c.text = newValueBox(textBox, true, c.frame);
    c.slider = newSlider(slider, c.frame);
    row->addWidget(c.text);
    row->addWidget(c.slider, 1);
    connectSlider(c.slider, std::move(apply));
}

void SheetView::connectSlider(QScrollBar* bar, std::function<void(int)> apply) {
    // The rule runs on an arrow or track click, a key or the wheel, and when a drag ends; not
    // while the handle is being dragged.
    connect(bar, &QScrollBar::valueChanged, this, [this, bar, apply](int value) {
        if (bar->isSliderDown())
            return;
        apply(value);
        emit edited();
    });
    connect(bar, &QScrollBar::sliderReleased, this, [this, bar, apply] {
        apply(bar->value());
        emit edited();
    });
}

// ------------------------------------------------------------------ System Parameters

SheetView::Controls SheetView::buildSystemFrame(const pp::SysRow& r, QWidget* parent) {
    Controls c;
    c.frame = newFrame(frameName(r.frame, r.stem), r.caption, parent);
    auto* row = frameRow(c.frame);
    const pp::Sys id = r.id;
    switch (r.kind) {
    case pp::SysKind::TwoState: {
        addOptions(c, row, r.textBox, r.options, r.states,
                   [this, id](int which) { sheet_.selectOption(id, which); });
        break;
    }
    case pp::SysKind::Clock: {
        c.text = new QLineEdit(c.frame);
        c.text->setObjectName(qs(r.textBox));
        c.text->setReadOnly(true);
        c.text->setFocusPolicy(Qt::ClickFocus);
        cmdTime_ = new QPushButton(qs(pp::SetTimeCaption), c.frame);
        cmdTime_->setObjectName(qs(pp::SetTimeButton));
        row->addWidget(c.text, 1);
        row->addWidget(cmdTime_);
        connect(cmdTime_, &QPushButton::clicked, this, [this] {
            sheet_.pressSetTime(localNow());
            emit edited();
        });
        break;
    }
    case pp::SysKind::OptionInfo:
        break; // shown in the option block
    default:
        addTextAndSlider(c, row, r.textBox, r.slider,
                         [this, id](int value) { sheet_.setSlider(id, value); });
        break;
    }
    return c;
}

void SheetView::buildSystemPage() {
    systemPage_ = new QWidget;
    systemPage_->setObjectName(QStringLiteral("SystemParameters"));

    // Frames in the instrument's own order (the download sequence), the option block last.
    std::vector<const pp::SysRow*> rows;
    for (const pp::SysRow& r : pp::systemCatalogue()) {
        if (r.kind != pp::SysKind::OptionInfo)
            rows.push_back(&r);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const pp::SysRow* a, const pp::SysRow* b) {
        return a->downloadIndex < b->downloadIndex;
    });

    std::vector<Cell> cells;
    for (const pp::SysRow* r : rows) {
        sys_[static_cast<size_t>(r->id)] = buildSystemFrame(*r, systemPage_);
        cells.push_back({sys_[static_cast<size_t>(r->id)].frame, 1});
    }

    auto* options = newFrame(qs(pp::OptionsFrameCaption), pp::OptionsFrameCaption, systemPage_);
    auto* optionGrid = new QGridLayout(options);
    optionGrid->setContentsMargins(6, 1, 6, 4);
    optionGrid->setHorizontalSpacing(8);
    optionGrid->setVerticalSpacing(3);
    optionGrid->setColumnStretch(0, 1);
    int line = 0;
    for (pp::Sys id : OptionBlockOrder) {
        const pp::SysRow& r = pp::row(id);
        auto* label = new QLabel(qs(r.caption), options);
        label->setObjectName(QStringLiteral("lbl") + qs(r.stem));
        Controls c; // the frame is shared: no frame of its own to enable
        c.text = newValueBox(r.textBox, true, options);
        label->setBuddy(c.text);
        optionGrid->addWidget(label, line, 0);
        optionGrid->addWidget(c.text, line, 1);
        sys_[static_cast<size_t>(id)] = c;
        ++line;
    }
    cells.push_back({options, OptionBlockSlots});

    auto* grid = newPageGrid();
    flowIntoGrid(grid, cells, rowsFor(cells, SystemColumns));
    equalColumns(grid, SystemColumns);

    cmdSDUpload_ = newButton(QStringLiteral("cmdSDUpload"), QStringLiteral("Upload From QX 7400"),
                             systemPage_);
    cmdSDDnLoad_ = newButton(QStringLiteral("cmdSDDnLoad"), QStringLiteral("Download To QX 7400"),
                             systemPage_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdSDUpload_);
    buttons->addWidget(cmdSDDnLoad_);
    cmdSDCompare_ = newButton(QStringLiteral("cmdSDCompare"),
                              QStringLiteral("Compare With QX7400..."), systemPage_);
    buttons->addWidget(cmdSDCompare_);

    auto* page = new QVBoxLayout(systemPage_);
    page->setContentsMargins(6, 6, 6, 6);
    page->setSpacing(6);
    page->addLayout(grid);
    page->addStretch(1);
    page->addLayout(buttons);
}

// ------------------------------------------------------------------ Part Parameters

SheetView::Controls SheetView::buildPartFrame(const pp::PartRow& r, QWidget* parent) {
    Controls c;
    c.frame = newFrame(frameName(r.frame, r.stem), r.caption, parent);
    auto* row = frameRow(c.frame);
    const pp::Part id = r.id;
    switch (r.kind) {
    case pp::PartKind::Option: {
        addOptions(c, row, r.textBox, r.options, r.states,
                   [this, id](int which) { sheet_.selectOption(id, which); });
        break;
    }
    case pp::PartKind::Code: {
        c.text = newValueBox(r.textBox, false, c.frame);
        auto* range = new QLabel(qs(pp::CustCodeRangeText), c.frame);
        range->setObjectName(QStringLiteral("lblCustCodeRange"));
        row->addWidget(c.text);
        row->addWidget(range);
        row->addStretch(1);
        // Typing only: the rule may empty the text, and mirroring must not run it again.
        connect(c.text, &QLineEdit::textEdited, this, [this, id](const QString& text) {
            sheet_.setText(id, text.toStdString());
            emit edited();
        });
        break;
    }
    default:
        addTextAndSlider(c, row, r.textBox, r.slider,
                         [this, id](int value) { sheet_.setSlider(id, value); });
        break;
    }
    return c;
}

void SheetView::buildPartPage() {
    partPage_ = new QWidget;
    partPage_->setObjectName(QStringLiteral("PartParameters"));

    std::vector<Cell> cells;
    for (const pp::PartRow& r : pp::partCatalogue()) {
        part_[static_cast<size_t>(r.id)] = buildPartFrame(r, partPage_);
        cells.push_back({part_[static_cast<size_t>(r.id)].frame, 1});
    }
    auto* grid = newPageGrid();
    flowIntoGrid(grid, cells, rowsFor(cells, PartColumns));
    equalColumns(grid, PartColumns);

    auto* label2 = new QLabel(QStringLiteral("Select Part"), partPage_);
    label2->setObjectName(QStringLiteral("Label2"));
    cmbParts_ = new QComboBox(partPage_);
    cmbParts_->setObjectName(QStringLiteral("cmbParts"));
    // A part number the list does not hold may be typed; its text is the chosen part number
    // (padded and checked by the transfers), and the list stays the instrument's.
    cmbParts_->setEditable(true);
    cmbParts_->setInsertPolicy(QComboBox::NoInsert);
    cmbParts_->lineEdit()->setMaxLength(8);
    cmbParts_->setMinimumWidth(valueBoxWidth(cmbParts_));
    label2->setBuddy(cmbParts_);
    connect(cmbParts_, &QComboBox::activated, this, [this](int index) {
        sheet_.setPartSelection(cmbParts_->itemText(index).toStdString());
        emit partChosen();
    });
    connect(cmbParts_->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& text) { sheet_.setPartSelection(text.trimmed().toStdString()); });

    cmdPartUpload_ = newButton(QStringLiteral("cmdPartUpload"),
                               QStringLiteral("Upload From QX 7400"), partPage_);
    cmdPartDnload_ = newButton(QStringLiteral("cmdPartDnload"),
                               QStringLiteral("Download To QX 7400"), partPage_);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(label2);
    bottom->addWidget(cmbParts_);
    bottom->addStretch(1);
    bottom->addWidget(cmdPartUpload_);
    bottom->addWidget(cmdPartDnload_);
    cmdPartCompare_ = newButton(QStringLiteral("cmdPartCompare"),
                                QStringLiteral("Compare With QX7400..."), partPage_);
    bottom->addWidget(cmdPartCompare_);

    auto* page = new QVBoxLayout(partPage_);
    page->setContentsMargins(6, 6, 6, 6);
    page->setSpacing(6);
    page->addLayout(grid);
    page->addStretch(1);
    page->addLayout(bottom);
}

// ------------------------------------------------------------------ mirroring

void SheetView::mirrorControls(const Controls& c, const std::string& text, const pp::Slider* slider,
                               int option, bool enabled) {
    if (c.text) {
        const QString shown = QString::fromStdString(text);
        if (c.text->text() != shown) {
            const QSignalBlocker block(c.text);
            c.text->setText(shown);
        }
    }
    // A handle being dragged belongs to the user until it is released.
    if (c.slider && slider && !c.slider->isSliderDown()) {
        const QSignalBlocker block(c.slider);
        // Range before value: the scroll bar clamps silently.
        if (c.slider->minimum() != slider->min || c.slider->maximum() != slider->max)
            c.slider->setRange(slider->min, slider->max);
        if (c.slider->singleStep() != slider->small)
            c.slider->setSingleStep(slider->small);
        if (c.slider->pageStep() != slider->large)
            c.slider->setPageStep(slider->large);
        if (c.slider->value() != slider->pos)
            c.slider->setValue(slider->pos);
    }
    if (c.group) {
        bool differs = false;
        for (int i = 0; i < c.optionCount; ++i)
            differs |= c.options[static_cast<size_t>(i)]->isChecked() != (i == option);
        if (differs) {
            if (option >= 0 && option < c.optionCount) {
                const QSignalBlocker block(c.options[static_cast<size_t>(option)]);
                c.options[static_cast<size_t>(option)]->setChecked(true);
            } else {
                // An exclusive group refuses to clear its last button.
                c.group->setExclusive(false);
                for (int i = 0; i < c.optionCount; ++i) {
                    const QSignalBlocker block(c.options[static_cast<size_t>(i)]);
                    c.options[static_cast<size_t>(i)]->setChecked(false);
                }
                c.group->setExclusive(true);
            }
        }
    }
    // Every control of the frame carries the state, not only the frame.
    if (c.frame)
        c.frame->setEnabled(enabled);
    if (c.text)
        c.text->setEnabled(enabled);
    if (c.slider)
        c.slider->setEnabled(enabled);
    for (int i = 0; i < c.optionCount; ++i)
        c.options[static_cast<size_t>(i)]->setEnabled(enabled);
}

void SheetView::mirrorPartSelector() {
    const QSignalBlocker block(cmbParts_);
    const auto& list = sheet_.partNumbers();
    bool same = cmbParts_->count() == static_cast<int>(list.size());
    for (int i = 0; same && i < cmbParts_->count(); ++i)
        same = cmbParts_->itemText(i) == QString::fromStdString(list[static_cast<size_t>(i)]);
    if (!same) {
        cmbParts_->clear();
        for (const std::string& pn : list)
            cmbParts_->addItem(QString::fromStdString(pn));
    }
    // The selection may name a part number the list does not hold (typed, or from a file):
    // the box shows it anyway, so it never hides what the transfer buttons will use.
    const QString selection = QString::fromStdString(sheet_.partSelection());
    const int index =
        selection.isEmpty()
            ? -1
            : cmbParts_->findText(selection, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (cmbParts_->currentIndex() != index)
        cmbParts_->setCurrentIndex(index);
    if (cmbParts_->currentText().trimmed() != selection)
        cmbParts_->setEditText(selection);
}

void SheetView::mirror() {
    const bool initFlow = sheet_.initFlowEnabled();
    for (const pp::SysRow& r : pp::systemCatalogue()) {
        const Controls& c = sys_[static_cast<size_t>(r.id)];
        mirrorControls(c, sheet_.text(r.id), r.slider.empty() ? nullptr : &sheet_.slider(r.id),
                       sheet_.option(r.id), !r.v73Only || initFlow);
    }
    for (const pp::PartRow& r : pp::partCatalogue()) {
        const Controls& c = part_[static_cast<size_t>(r.id)];
        mirrorControls(c, sheet_.text(r.id), r.slider.empty() ? nullptr : &sheet_.slider(r.id),
                       sheet_.option(r.id), !r.v73Only || initFlow);
    }
    mirrorPartSelector();

    const pp::Commands& commands = sheet_.commands;
    cmdSDUpload_->setEnabled(commands.sdUpload);
    cmdSDDnLoad_->setEnabled(commands.sdDownload);
    cmdPartUpload_->setEnabled(commands.partUpload);
    cmdPartDnload_->setEnabled(commands.partDownload);
    // A comparison uploads, and shows what a download would change: both must be possible.
    cmdSDCompare_->setEnabled(commands.sdUpload && commands.sdDownload);
    cmdPartCompare_->setEnabled(commands.partUpload && commands.partDownload);
}

} // namespace pp::ui
