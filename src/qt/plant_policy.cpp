#include "qt/plant_policy.h"

#include "qt/program_settings.h"

#include <QStringList>

namespace pp::qt {

std::map<std::string, std::string> localPlantSettings() {
    QSettings settings = programSettings();
    settings.beginGroup(QStringLiteral("plant"));
    std::map<std::string, std::string> values;
    for (const QString& key : settings.childKeys()) {
        const QVariant v = settings.value(key);
        // An INI line with commas reads as a list: its items are the lines.
        values[key.toStdString()] = v.typeId() == QMetaType::QStringList
                                        ? v.toStringList().join(QLatin1Char('\n')).toStdString()
                                        : v.toString().toStdString();
    }
    return values;
}

PlantPolicy localPlantPolicy() {
    return pp::history::policyFrom(localPlantSettings());
}

} // namespace pp::qt
