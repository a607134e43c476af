#pragma once

#include <QString>

#include <memory>
#include <optional>

// The platform's small persistent key-value store for preferences that are not settings.
class UserDefaults
{
public:
    virtual ~UserDefaults() = default;
    virtual bool boolValue(const QString &key) const = 0; // absent reads as false
    virtual void setBool(const QString &key, bool value) = 0;
    virtual std::optional<QString> stringValue(const QString &key) const = 0;
    virtual void setString(const QString &key, const QString &value) = 0;

    static std::unique_ptr<UserDefaults> createForPlatform();
};
