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
        // A list written as one=..., two=... comes back as a string list.
        values[key.toStdString()] = v.typeId() == QMetaType::QStringList
                                        ? v.toStringList().join(QLatin1Char('\n')).toStdString()
                                        : v.toString().toStdString();
    }
    return values;
}

PlantPolicy localPlantPolicy() {
    const auto values = localPlantSettings();
    auto flag = [&](const char* key) {
        const auto it = values.find(key);
        return it != values.end() && (it->second == "true" || it->second == "1");
    };
    PlantPolicy p;
    p.approverNotAuthor = flag("approver_not_author");
    p.reasonRequired = flag("reason_required");
    if (const auto it = values.find("download_reasons"); it != values.end()) {
        for (const QString& line : QString::fromStdString(it->second).split(QLatin1Char('\n'))) {
            const QString reason = line.trimmed();
            if (!reason.isEmpty())
                p.reasons.push_back(reason.toStdString());
        }
    }
    return p;
}

} // namespace pp::qt
