#include "UserDefaults.h"

#include <QSettings>

namespace {

// QSettings is the native defaults domain on macOS and a small file under ~/.config elsewhere.
class SettingsUserDefaults : public UserDefaults
{
public:
    bool boolValue(const QString &key) const override { return m_store.value(key, false).toBool(); }

    void setBool(const QString &key, bool value) override
    {
        m_store.setValue(key, value);
        m_store.sync();
    }

    std::optional<QString> stringValue(const QString &key) const override
    {
        const QVariant value = m_store.value(key);
        if (value.typeId() != QMetaType::QString)
            return std::nullopt;
        return value.toString();
    }

    void setString(const QString &key, const QString &value) override
    {
        m_store.setValue(key, value);
        m_store.sync();
    }

private:
    QSettings m_store{QStringLiteral("nimbrel"), QStringLiteral("drowsewick")};
};

} // namespace

std::unique_ptr<UserDefaults> UserDefaults::createForPlatform()
{
    return std::make_unique<SettingsUserDefaults>();
}
