#include "ui/main/recent_files.h"

#include "qt/program_settings.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace pp::ui {

namespace {

const QString Key = QStringLiteral("recentFiles");

QString normalised(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

RecentFiles::RecentFiles(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu) {
    const QStringList stored = qt::programSettings().value(Key).toStringList();
    for (const QString& path : stored)
        if (!path.isEmpty() && !files_.contains(path) && files_.size() < Max)
            files_.append(path);
    rebuild();
}

void RecentFiles::add(const QString& path) {
    const QString file = normalised(path);
    files_.removeAll(file);
    files_.prepend(file);
    while (files_.size() > Max)
        files_.removeLast();
    store();
}

void RecentFiles::remove(const QString& path) {
    if (files_.removeAll(normalised(path)) > 0)
        store();
}

void RecentFiles::clear() {
    files_.clear();
    store();
}

void RecentFiles::store() {
    // Another window of this run may have written meanwhile: the last writer wins.
    qt::programSettings().setValue(Key, files_);
    rebuild();
}

void RecentFiles::rebuild() {
    // An entry may be rebuilding the menu from its own triggered(): delete later.
    for (QAction* old : menu_->actions()) {
        menu_->removeAction(old);
        old->setObjectName(QString());
        old->deleteLater();
    }
    for (qsizetype i = 0; i < files_.size(); ++i) {
        const QString path = files_[i];
        QString shown = QDir::toNativeSeparators(path);
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* entry = menu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
        entry->setObjectName(QStringLiteral("mnuRecent%1").arg(i + 1));
        entry->setData(path);
        connect(entry, &QAction::triggered, this, [this, path] { emit openRequested(path); });
    }
    if (!files_.isEmpty())
        menu_->addSeparator();
    QAction* clearEntry = menu_->addAction(QStringLiteral("Clear Menu"));
    clearEntry->setObjectName(QStringLiteral("mnuRecentClear"));
    clearEntry->setEnabled(!files_.isEmpty());
    connect(clearEntry, &QAction::triggered, this, &RecentFiles::clear);
}

} // namespace pp::ui
