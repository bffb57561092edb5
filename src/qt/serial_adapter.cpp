#include "qt/serial_adapter.h"

#include <QtGlobal>

namespace pp::qt {

QString devicePathForPort(int n) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    const QString fromEnv =
        qEnvironmentVariable(qPrintable(QStringLiteral("PARAMPORTER_COMM%1").arg(n)));
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

} // namespace pp::qt
