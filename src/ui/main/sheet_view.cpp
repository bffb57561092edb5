#include "ui/main/sheet_view.h"

#include "qt/clock.h"

#include "qt/strings.h"

#include "sheet/typed_value.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>
#include <utility>
#include <vector>

namespace pp::ui {

using qt::qs;

namespace {

const QString Label2Caption = QStringLiteral("Select Part");

// Set on a parameter's caption (its frame, or its label in the option block) while marked.
constexpr const char* MarkedProperty = "marked";

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

// A frame whose caption turns bold while its value is marked. The bold face is only painted:
// a font change would lay out the whole page again at every undo step.
class MarkableFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;
    void setMarked(bool marked) {
        if (marked == property(MarkedProperty).toBool())
            return;
        setProperty(MarkedProperty, marked);
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (!property(MarkedProperty).toBool()) {
            QGroupBox::paintEvent(event);
            return;
        }
        QStylePainter painter(this);
        QStyleOptionGroupBox option;
        initStyleOption(&option);
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        option.fontMetrics = QFontMetrics(bold); // the caption's room, measured bold
        painter.drawComplexControl(QStyle::CC_GroupBox, option);
    }
};

QGroupBox* newFrame(const QString& name, std::string_view caption, QWidget* parent) {
    auto* frame = new MarkableFrame(qs(caption), parent);
    frame->setObjectName(name);
    frame->setProperty(MarkedProperty, false);
    return frame;
}

QHBoxLayout* frameRow(QGroupBox* frame) {
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(6, 1, 6, 4);
    row->setSpacing(4);
    return row;
}

// Ctrl+Z and its kin belong to the sheet's undo, not to the text box's own.
class SheetKeys : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::ShortcutOverride)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        // Not accepted: the window's Undo and Redo take the key.
        return key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo) ||
               key->keyCombination() == QKeyCombination(Qt::CTRL | Qt::SHIFT, Qt::Key_Z) ||
               key->keyCombination() == QKeyCombination(Qt::CTRL, Qt::Key_Y);
    }
};

QObject* sheetKeys() {
    static SheetKeys* keys = new SheetKeys(qApp);
    return keys;
}

QLineEdit* newValueBox(std::string_view name, bool readOnly, QWidget* parent) {
    auto* text = new QLineEdit(parent);
    text->setObjectName(qs(name));
    text->setReadOnly(readOnly);
    text->setFixedWidth(valueBoxWidth(text));
    if (readOnly) {
        text->setFocusPolicy(Qt::ClickFocus); // selectable for copying, not a tab stop
    } else {
        text->installEventFilter(sheetKeys());
    }
    return text;
}

// A thin bar in the palette's highlight colour, which light and dark themes both set to
// something that stands out. Always there, filled only while it marks: showing and hiding
// a widget would lay the page out again at every step.
QWidget* newMarker(std::string_view stem, QWidget* parent) {
    auto* marker = new QFrame(parent);
    marker->setObjectName(QStringLiteral("mrk") + qs(stem));
    marker->setFixedWidth(4);
    marker->setBackgroundRole(QPalette::Highlight);
    marker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    return marker;
}

void setMarked(QWidget* caption, bool marked) {
    if (auto* frame = dynamic_cast<MarkableFrame*>(caption)) {
        frame->setMarked(marked);
        return;
    }
    // A label of the option block: rarely marked, a font change is fine there.
    caption->setProperty(MarkedProperty, marked);
    if (caption->font().bold() == marked)
        return;
    QFont font = caption->font();
    font.setBold(marked);
    caption->setFont(font);
}

void setTip(QWidget* w, const QString& tip) {
    if (w && w->toolTip() != tip)
        w->setToolTip(tip);
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

// The values scroll where the window is too small for them (a small screen, a large font);
// the buttons below them, and the tabs above, stay in sight.
void layOutPage(QWidget* page, QGridLayout* grid, QHBoxLayout* buttons) {
    auto* values = new QWidget;
    values->setObjectName(page->objectName() + QStringLiteral("Values"));
    auto* inner = new QVBoxLayout(values);
    inner->setContentsMargins(6, 6, 6, 0);
    inner->setSpacing(0);
    inner->addLayout(grid);
    inner->addStretch(1);
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName(QStringLiteral("scr") + page->objectName());
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(values);
    // The tab's own page shows through, as without the scrolling.
    scroll->viewport()->setAutoFillBackground(false);
    values->setAutoFillBackground(false);
    buttons->setContentsMargins(6, 0, 6, 0);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->setSpacing(6);
    layout->addWidget(scroll, 1);
    layout->addLayout(buttons);
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
    const QString step = c.frame ? c.frame->title() : QString();
    c.text->setAccessibleName(step);
    connect(c.group, &QButtonGroup::idClicked, this, [this, select, step](int which) {
        emit aboutToEdit();
        select(which);
        emit edited(step, false);
    });
}

// The text box takes a typed number for its slider; the slider's rule writes the text.
void SheetView::addTextAndSlider(Controls& c, QHBoxLayout* row, std::string_view textBox,
                                 std::string_view slider, const QString& step,
                                 std::function<void(int)> apply) {
    c.text = newValueBox(textBox, false, c.frame);
    c.slider = newSlider(slider, c.frame);
    c.text->setAccessibleName(step);
    c.slider->setAccessibleName(step);
    row->addWidget(c.text);
    row->addWidget(c.slider, 1);
    connectSlider(c.slider, step, std::move(apply));
}

void SheetView::connectSlider(QScrollBar* bar, const QString& step,
                              std::function<void(int)> apply) {
    // The rule runs on an arrow or track click, a key or the wheel, and when a drag ends; not
    // while the handle is being dragged. A drag is one step.
    connect(bar, &QScrollBar::valueChanged, this, [this, bar, apply, step](int value) {
        if (bar->isSliderDown())
            return;
        emit aboutToEdit();
        apply(value);
        emit edited(step, false);
    });
    connect(bar, &QScrollBar::sliderReleased, this, [this, bar, apply, step] {
        emit aboutToEdit();
        apply(bar->value());
        emit edited(step, false);
    });
}

template <typename Id> void SheetView::connectTyped(Controls& c, Id id) {
    connect(c.text, &QLineEdit::editingFinished, this, [this, id] { applyTyped(id); });
}

template <typename Id> void SheetView::applyTyped(Id id) {
    QLineEdit* box = controls(id).text;
    const std::string typed = box->text().trimmed().toStdString();
    setDirty(id); // whatever happens, the box shows the sheet's text afterwards
    if (typed == sheet_.text(id)) {
        mirror();
        return;
    }
    const std::optional<int> position = pp::typedPosition(sheet_, id, typed);
    if (!position) {
        mirror(); // the text goes back before the message is read
        emit valueRefused(qs(pp::rangeText(sheet_, id)));
        return;
    }
    emit aboutToEdit();
    sheet_.setSlider(id, *position);
    emit edited(qs(pp::row(id).caption), false);
}

// ------------------------------------------------------------------ System Parameters

SheetView::Controls SheetView::buildSystemFrame(const pp::SysRow& r, QWidget* parent) {
    Controls c;
    c.frame = newFrame(frameName(r.frame, r.stem), r.caption, parent);
    auto* row = frameRow(c.frame);
    const pp::Sys id = r.id;
    c.marker = newMarker(r.stem, c.frame);
    row->addWidget(c.marker);
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
        c.text->setAccessibleName(qs(r.caption));
        cmdTime_ = new QPushButton(qs(pp::SetTimeCaption), c.frame);
        cmdTime_->setObjectName(qs(pp::SetTimeButton));
        row->addWidget(c.text, 1);
        row->addWidget(cmdTime_);
        connect(cmdTime_, &QPushButton::clicked, this, [this] {
            emit aboutToEdit();
            sheet_.pressSetTime(qt::now());
            emit edited(qs(pp::SetTimeCaption), false);
        });
        break;
    }
    case pp::SysKind::OptionInfo:
        break; // shown in the option block
    default:
        addTextAndSlider(c, row, r.textBox, r.slider, qs(r.caption),
                         [this, id](int value) { sheet_.setSlider(id, value); });
        connectTyped(c, id);
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
    optionGrid->setColumnStretch(1, 1);
    int line = 0;
    for (pp::Sys id : OptionBlockOrder) {
        const pp::SysRow& r = pp::row(id);
        auto* label = new QLabel(qs(r.caption), options);
        label->setObjectName(QStringLiteral("lbl") + qs(r.stem));
        Controls c; // the frame is shared: no frame of its own to enable
        c.label = label;
        c.marker = newMarker(r.stem, options);
        c.text = newValueBox(r.textBox, true, options);
        c.text->setAccessibleName(qs(r.caption));
        label->setBuddy(c.text);
        optionGrid->addWidget(c.marker, line, 0);
        optionGrid->addWidget(label, line, 1);
        optionGrid->addWidget(c.text, line, 2);
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

    layOutPage(systemPage_, grid, buttons);
}

// ------------------------------------------------------------------ Part Parameters

SheetView::Controls SheetView::buildPartFrame(const pp::PartRow& r, QWidget* parent) {
    Controls c;
    c.frame = newFrame(frameName(r.frame, r.stem), r.caption, parent);
    auto* row = frameRow(c.frame);
    const pp::Part id = r.id;
    c.marker = newMarker(r.stem, c.frame);
    row->addWidget(c.marker);
    switch (r.kind) {
    case pp::PartKind::Option: {
        addOptions(c, row, r.textBox, r.options, r.states,
                   [this, id](int which) { sheet_.selectOption(id, which); });
        break;
    }
    case pp::PartKind::Code: {
        c.text = newValueBox(r.textBox, false, c.frame);
        c.text->setAccessibleName(qs(r.caption));
        auto* range = new QLabel(qs(pp::CustCodeRangeText), c.frame);
        range->setObjectName(QStringLiteral("lblCustCodeRange"));
        row->addWidget(c.text);
        row->addWidget(range);
        row->addStretch(1);
        // Typing only: the rule may empty the text, and mirroring must not run it again.
        const QString step = qs(r.caption);
        connect(c.text, &QLineEdit::textEdited, this, [this, id, step](const QString& text) {
            emit aboutToEdit();
            sheet_.setText(id, text.toStdString());
            setDirty(id); // the rule may have emptied what the box shows
            emit edited(step, true);
        });
        connect(c.text, &QLineEdit::editingFinished, this, &SheetView::typingEnded);
        break;
    }
    default:
        addTextAndSlider(c, row, r.textBox, r.slider, qs(r.caption),
                         [this, id](int value) { sheet_.setSlider(id, value); });
        connectTyped(c, id);
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

    auto* label2 = new QLabel(Label2Caption, partPage_);
    label2->setObjectName(QStringLiteral("Label2"));
    cmbParts_ = new QComboBox(partPage_);
    cmbParts_->setObjectName(QStringLiteral("cmbParts"));
    // A part number the list does not hold may be typed; its text is the chosen part number
    // (padded and checked by the transfers), and the list stays the instrument's.
    cmbParts_->setEditable(true);
    cmbParts_->setInsertPolicy(QComboBox::NoInsert);
    cmbParts_->lineEdit()->setMaxLength(8);
    cmbParts_->lineEdit()->installEventFilter(sheetKeys());
    cmbParts_->setMinimumWidth(valueBoxWidth(cmbParts_));
    label2->setBuddy(cmbParts_);
    connect(cmbParts_, &QComboBox::activated, this, [this](int index) {
        emit aboutToEdit();
        sheet_.setPartSelection(cmbParts_->itemText(index).toStdString());
        selectorDirty_ = true;
        emit partChosen();
    });
    // Typing a part number is a run of typing like the customer code's: one undo step. The
    // box already shows what was typed; mirroring it back would undo its completion.
    connect(cmbParts_->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        emit aboutToEdit();
        sheet_.setPartSelection(text.trimmed().toStdString());
        selectorTyped_ = true;
        emit edited(Label2Caption, true);
    });
    connect(cmbParts_->lineEdit(), &QLineEdit::editingFinished, this, &SheetView::typingEnded);

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

    layOutPage(partPage_, grid, bottom);
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
    // Only what changed since the last mirror is written: an upload that arrives in pieces
    // must not redraw sixty controls for every piece.
    const bool first = !shown_;
    const pp::Sheet* was = first ? nullptr : &*shown_;
    const bool initFlow = sheet_.initFlowEnabled();
    const bool initFlowChanged = first || was->initFlowEnabled() != initFlow;
    bool rangesChanged = first;
    auto changed = [&](auto id, const auto& r, bool dirty) {
        if (first || dirty || (r.v73Only && initFlowChanged))
            return true;
        if (was->text(id) != sheet_.text(id) || was->option(id) != sheet_.option(id))
            return true;
        if (r.slider.empty() || was->slider(id) == sheet_.slider(id))
            return false;
        const pp::Slider& a = was->slider(id);
        const pp::Slider& b = sheet_.slider(id);
        rangesChanged = rangesChanged || a.min != b.min || a.max != b.max;
        return true;
    };
    for (const pp::SysRow& r : pp::systemCatalogue()) {
        if (!changed(r.id, r, sysDirty_[static_cast<size_t>(r.id)]))
            continue;
        mirrorControls(controls(r.id), sheet_.text(r.id),
                       r.slider.empty() ? nullptr : &sheet_.slider(r.id), sheet_.option(r.id),
                       !r.v73Only || initFlow);
    }
    for (const pp::PartRow& r : pp::partCatalogue()) {
        if (!changed(r.id, r, partDirty_[static_cast<size_t>(r.id)]))
            continue;
        mirrorControls(controls(r.id), sheet_.text(r.id),
                       r.slider.empty() ? nullptr : &sheet_.slider(r.id), sheet_.option(r.id),
                       !r.v73Only || initFlow);
    }
    const bool typedOnly =
        selectorTyped_ && !selectorDirty_ && was->partNumbers() == sheet_.partNumbers();
    if (!typedOnly && (first || selectorDirty_ || was->partNumbers() != sheet_.partNumbers() ||
                       was->partSelection() != sheet_.partSelection()))
        mirrorPartSelector();

    if (first || was->commands != sheet_.commands) {
        const pp::Commands& commands = sheet_.commands;
        cmdSDUpload_->setEnabled(commands.sdUpload);
        cmdSDDnLoad_->setEnabled(commands.sdDownload);
        cmdPartUpload_->setEnabled(commands.partUpload);
        cmdPartDnload_->setEnabled(commands.partDownload);
        // A comparison uploads, and shows what a download would change: both must be possible.
        cmdSDCompare_->setEnabled(commands.sdUpload && commands.sdDownload);
        cmdPartCompare_->setEnabled(commands.partUpload && commands.partDownload);
    }
    mirrorTips(rangesChanged);

    sysDirty_.fill(false);
    partDirty_.fill(false);
    selectorDirty_ = false;
    selectorTyped_ = false;
    shown_ = sheet_;
}

// ------------------------------------------------------------------ tooltips and marks

QString SheetView::uploadedTip(const std::string& uploaded) {
    return QStringLiteral("Uploaded: ") + QString::fromStdString(uploaded);
}

QString SheetView::markTip(const std::optional<std::string>& uploaded,
                           const std::optional<std::string>& approved) {
    QString tip = uploaded ? uploadedTip(*uploaded) : QString();
    if (approved)
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("Approved: ") +
               QString::fromStdString(*approved);
    return tip;
}

namespace {

// The range with its unit on the value box and the slider; where the value differs from the
// instrument's or from the approved set, those texts too (on the frame, its marker and the box).
template <typename Controls>
void applyTips(const Controls& c, const QString& range, const std::optional<std::string>& mark,
               const std::optional<std::string>& approved) {
    const QString marked = SheetView::markTip(mark, approved);
    QString box = range;
    if (!marked.isEmpty())
        box = box.isEmpty() ? marked : box + QLatin1Char('\n') + marked;
    setTip(c.text, box);
    setTip(c.slider, box);
    setTip(c.frame, marked);
    setTip(c.marker, marked);
    setTip(c.label, marked);
}

} // namespace

void SheetView::mirrorTips(bool rangesChanged) {
    // The ranges follow the decimal counts, the units, the time base and the block test
    // minimum; everything else leaves them alone.
    std::string key =
        std::to_string(sheet_.flowDecimals()) + '/' + std::to_string(sheet_.presDecimals()) + '/' +
        sheet_.text(pp::Sys::FlowEngUnits) + '/' + sheet_.text(pp::Sys::PresEngUnits) + '/' +
        (sheet_.timeBaseSeconds() ? "s" : "t");
    if (!rangesChanged && key == scaleKey_)
        return;
    scaleKey_ = std::move(key);
    for (const pp::SysRow& r : pp::systemCatalogue()) {
        const size_t i = static_cast<size_t>(r.id);
        applyTips(controls(r.id), rangeTip(r), marks_.system[i], marks_.approvedSystem[i]);
    }
    for (const pp::PartRow& r : pp::partCatalogue()) {
        const size_t i = static_cast<size_t>(r.id);
        applyTips(controls(r.id), rangeTip(r), marks_.part[i], marks_.approvedPart[i]);
    }
}

QString SheetView::rangeTip(const pp::SysRow& r) const {
    return r.slider.empty() ? QString() : qs(pp::rangeText(sheet_, r.id, true));
}

QString SheetView::rangeTip(const pp::PartRow& r) const {
    if (!r.slider.empty())
        return qs(pp::rangeText(sheet_, r.id, true));
    if (r.kind == pp::PartKind::Code)
        return qs(r.caption) + QStringLiteral(": 0 to 999999");
    return {};
}

void SheetView::showMark(const Controls& c, const std::optional<std::string>& uploaded,
                         const std::optional<std::string>& approved) {
    const bool marked = uploaded.has_value() || approved.has_value();
    if (QWidget* caption = c.frame ? static_cast<QWidget*>(c.frame) : c.label)
        setMarked(caption, marked);
    if (c.marker && c.marker->autoFillBackground() != marked) {
        c.marker->setAutoFillBackground(marked);
        c.marker->update();
    }
    if (c.text)
        c.text->setAccessibleDescription(markTip(uploaded, approved));
}

void SheetView::setMarks(const pp::Marks& marks) {
    if (marks == marks_)
        return;
    const pp::Marks was = std::exchange(marks_, marks);
    for (const pp::SysRow& r : pp::systemCatalogue()) {
        const size_t i = static_cast<size_t>(r.id);
        if (was.system[i] == marks_.system[i] && was.approvedSystem[i] == marks_.approvedSystem[i])
            continue;
        showMark(controls(r.id), marks_.system[i], marks_.approvedSystem[i]);
        applyTips(controls(r.id), rangeTip(r), marks_.system[i], marks_.approvedSystem[i]);
    }
    for (const pp::PartRow& r : pp::partCatalogue()) {
        const size_t i = static_cast<size_t>(r.id);
        if (was.part[i] == marks_.part[i] && was.approvedPart[i] == marks_.approvedPart[i])
            continue;
        showMark(controls(r.id), marks_.part[i], marks_.approvedPart[i]);
        applyTips(controls(r.id), rangeTip(r), marks_.part[i], marks_.approvedPart[i]);
    }
}

} // namespace pp::ui
