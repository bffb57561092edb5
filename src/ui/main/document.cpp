#include "ui/main/document.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QStyle>
#include <QUndoCommand>
#include <QUndoStack>

namespace pp::ui {

namespace {

constexpr int TypingId = 1;

class SheetStep : public QUndoCommand {
public:
    SheetStep(Document& owner, const QString& name, pp::Sheet before, pp::Sheet after,
              std::optional<Tracking> trackingBefore, std::optional<Tracking> trackingAfter,
              int typingRun)
        : QUndoCommand(name), owner_(owner), before_(std::move(before)), after_(std::move(after)),
          trackingBefore_(std::move(trackingBefore)), trackingAfter_(std::move(trackingAfter)),
          typingRun_(typingRun) {}

    // The change has happened when the step is pushed: the first redo has nothing to do.
    void redo() override {
        if (pushed_)
            owner_.restore(after_, trackingAfter_, changedFile(), changedList());
        pushed_ = true;
    }
    void undo() override { owner_.restore(before_, trackingBefore_, changedFile(), changedList()); }

    int id() const override { return typingRun_ >= 0 ? TypingId : -1; }
    bool mergeWith(const QUndoCommand* other) override {
        const auto* next = static_cast<const SheetStep*>(other);
        if (next->typingRun_ != typingRun_)
            return false;
        after_ = next->after_;
        setObsolete(before_ == after_); // typed and deleted again: no step
        return true;
    }

private:
    bool changedFile() const { return before_.filePath != after_.filePath; }
    bool changedList() const { return before_.partNumbers() != after_.partNumbers(); }

    Document& owner_;
    pp::Sheet before_;
    pp::Sheet after_;
    std::optional<Tracking> trackingBefore_;
    std::optional<Tracking> trackingAfter_;
    int typingRun_;
    bool pushed_ = false;
};

QIcon themeIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name),
                            QApplication::style()->standardIcon(fallback));
}

} // namespace

Document::Document(QObject* parent) : QObject(parent), stack_(new QUndoStack(this)) {
    stack_->setUndoLimit(Limit); // only allowed while the stack is empty
    tracking_.saved = pp::SheetContent::of(sheet_);

    // Actions of our own rather than the stack's, so an exchange can hold them off.
    undo_ =
        new QAction(themeIcon("edit-undo", QStyle::SP_ArrowBack), QStringLiteral("&Undo"), this);
    undo_->setObjectName(QStringLiteral("mnuUndo"));
    undo_->setShortcuts(QKeySequence::Undo);
    redo_ =
        new QAction(themeIcon("edit-redo", QStyle::SP_ArrowForward), QStringLiteral("&Redo"), this);
    redo_->setObjectName(QStringLiteral("mnuRedo"));
    QList<QKeySequence> redoKeys = QKeySequence::keyBindings(QKeySequence::Redo);
    for (const QKeySequence& key :
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)})
        if (!redoKeys.contains(key))
            redoKeys.append(key);
    redo_->setShortcuts(redoKeys);
    connect(undo_, &QAction::triggered, stack_, &QUndoStack::undo);
    connect(redo_, &QAction::triggered, stack_, &QUndoStack::redo);
    connect(stack_, &QUndoStack::indexChanged, this, [this] {
        updateActions();
        emit stepsChanged();
    });
    updateActions();
}

Document::~Document() = default;

void Document::updateActions() {
    auto name = [](const QString& verb, const QString& step) {
        return step.isEmpty() ? verb : verb + QLatin1Char(' ') + step;
    };
    const QString undoText = name(QStringLiteral("&Undo"), stack_->undoText());
    const QString redoText = name(QStringLiteral("&Redo"), stack_->redoText());
    if (undo_->text() != undoText) {
        undo_->setText(undoText);
        undo_->setToolTip(name(QStringLiteral("Undo"), stack_->undoText()));
    }
    if (redo_->text() != redoText) {
        redo_->setText(redoText);
        redo_->setToolTip(name(QStringLiteral("Redo"), stack_->redoText()));
    }
}

bool Document::canUndo() const {
    return stack_->canUndo();
}

bool Document::canRedo() const {
    return stack_->canRedo();
}

void Document::record(const pp::Sheet& before, const QString& name, int typingRun) {
    if (pending_ || before == sheet_)
        return;
    stack_->push(new SheetStep(*this, name, before, sheet_, std::nullopt, std::nullopt, typingRun));
}

void Document::recordReplacement(const pp::Sheet& before, const QString& name,
                                 const Tracking& after) {
    const Tracking old = tracking_;
    tracking_ = after;
    if (before == sheet_)
        return;
    stack_->push(new SheetStep(*this, name, before, sheet_, old, after, -1));
}

void Document::beginTransfer(pp::ExchangeKind kind) {
    if (pending_)
        endTransfer(false, std::nullopt, sheet_);
    pending_ = Pending{kind, sheet_, tracking_};
}

void Document::endTransfer(bool succeeded, const std::optional<pp::InstrumentIdentity>& instrument,
                           const pp::Sheet& sent) {
    if (!pending_)
        return;
    const Pending p = std::move(*pending_);
    pending_.reset();
    // Settings copied onto another instrument, which kept its own values: the sheet still
    // stands for the instrument it came from, and the other one now holds what was sent.
    const bool copied =
        instrument && !p.tracking.instrument.empty() && instrument->serial != p.tracking.instrument;
    const pp::SheetContent now = pp::SheetContent::of(sheet_);
    const std::string serial = sheet_.text(pp::Sys::Serial);
    Tracking after = tracking_;
    switch (p.kind) {
    case pp::ExchangeKind::SystemUpload:
        // The starter emptied both scopes: what is left is nothing to lose, whatever came.
        after.saved = now;
        if (succeeded) {
            after.instrument = serial;
            uploads_.record(serial, now.system);
        }
        break;
    case pp::ExchangeKind::PartUpload:
        after.saved.part = now.part;
        if (succeeded) {
            if (instrument)
                after.instrument = instrument->serial;
            uploads_.record(after.instrument, now.part);
        }
        break;
    case pp::ExchangeKind::SystemDownload:
        after.saved.part = now.part; // the starter emptied the part values
        if (succeeded) {
            after.saved.system = now.system;
            if (copied) {
                uploads_.record(instrument->serial, pp::SheetContent::of(sent).system);
            } else {
                after.instrument = serial; // a new serial number went out with it
                uploads_.record(serial, now.system);
            }
        }
        break;
    case pp::ExchangeKind::PartDownload:
        if (succeeded) {
            after.saved.part = now.part;
            if (copied) {
                uploads_.record(instrument->serial, pp::SheetContent::of(sent).part);
            } else {
                if (instrument)
                    after.instrument = instrument->serial;
                uploads_.record(after.instrument, now.part);
            }
        }
        break;
    default:
        break;
    }
    const bool upload =
        p.kind == pp::ExchangeKind::SystemUpload || p.kind == pp::ExchangeKind::PartUpload;
    const QString name =
        upload ? QStringLiteral("Upload From QX 7400") : QStringLiteral("Download To QX 7400");
    if (upload) {
        tracking_ = p.tracking;
        recordReplacement(p.before, name, after);
    } else {
        // The instrument keeps what was written even when the step is undone.
        record(p.before, name);
        tracking_ = after;
    }
}

// Values that would be lost: an emptied scope has nothing to lose (the steps keep what was
// there), and the part number alone is no value.
bool Document::modified() const {
    return (!pp::systemEmpty(sheet_) && !pp::matches(sheet_, tracking_.saved.system)) ||
           partModified();
}

bool Document::partModified() const {
    return !pp::partEmpty(sheet_) && !pp::matches(sheet_, tracking_.saved.part);
}

void Document::markSaved() {
    tracking_.saved = pp::SheetContent::of(sheet_);
}

pp::Marks Document::marks(const pp::ApprovedTexts& approved) const {
    return pp::changedFrom(sheet_, uploads_, tracking_.instrument, approved);
}

void Document::restore(const pp::Sheet& target, const std::optional<Tracking>& tracking,
                       bool stepChangedFile, bool stepChangedList) {
    pp::Sheet next = target;
    if (!stepChangedFile) {
        // A value edited, then saved elsewhere: undoing the edit must not bring the old file
        // back as the place Save writes to.
        next.filePath = sheet_.filePath;
        next.commands.save = sheet_.commands.save;
    }
    if (!stepChangedList) {
        // The part numbers the instrument reported since are its configuration, not an edit.
        for (const std::string& pn : target.partNumbers())
            next.RemovePartNumber(pn);
        for (const std::string& pn : sheet_.partNumbers())
            next.AddPartNumber(pn);
    }
    sheet_ = std::move(next);
    if (tracking)
        tracking_ = *tracking;
    emit restored();
}

} // namespace pp::ui
