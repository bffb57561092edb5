// File > Recent Files: the last eight parameter files opened or saved, kept between runs with
// QSettings, and "Clear Menu".
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QMenu;

namespace pp::ui {

class RecentFiles : public QObject {
    Q_OBJECT
public:
    static constexpr int Max = 8;

    // Fills `menu` and keeps it up to date.
    explicit RecentFiles(QMenu* menu, QObject* parent = nullptr);

    QStringList files() const { return files_; }
    void add(const QString& path); // to the top; the oldest beyond eight goes
    void remove(const QString& path);
    void clear();

signals:
    void openRequested(const QString& path);

private:
    void store();
    void rebuild();

    QMenu* menu_;
    QStringList files_;
};

} // namespace pp::ui
