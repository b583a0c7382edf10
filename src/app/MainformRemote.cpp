// The remote-control service on its own port: local peers only, one command per read.
#include "app/TMainform.h"

bool TMainform::CheckLocalAddress(const QString& Address) {
    if (Address.startsWith(QLatin1String("192.168.")) || Address.startsWith(QLatin1String("10.")) ||
        Address == QLatin1String("127.0.0.1")) {
        return true;
    }
    if (!Address.startsWith(QLatin1String("172."))) {
        return false;
    }
    // Only the private block 172.16.0.0/12: the second number decides.
    const qsizetype end = Address.indexOf(QLatin1Char('.'), 4);
    if (end < 0) {
        return false;
    }
    const QStringView second = QStringView(Address).mid(4, end - 4);
    if (second.isEmpty() || second.size() > 3) {
        return false;
    }
    int value = 0;
    for (const QChar c : second) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
        value = value * 10 + (c.unicode() - '0');
    }
    return value >= 16 && value <= 31;
}
