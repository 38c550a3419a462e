// The window's values in QSettings' per-user file (a byte array each).
#include "host/qt/settings_store.h"

#include <QSettings>

namespace norvane {

bool read_setting_bytes(const std::string& name, size_t size, std::vector<uint8_t>& bytes)
{
    const QVariant value = QSettings(SETTINGS_ORGANISATION, SETTINGS_APPLICATION).value(QString::fromStdString(name));
    if (!value.isValid())
        return false;
    const QByteArray stored = value.toByteArray();
    if (size_t(stored.size()) > size)
        return false;
    bytes.assign(stored.begin(), stored.end());
    return true;
}

void write_setting_bytes(const std::string& name, const std::vector<uint8_t>& bytes)
{
    QSettings(SETTINGS_ORGANISATION, SETTINGS_APPLICATION)
        .setValue(QString::fromStdString(name),
                  QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
}

}  // namespace norvane
