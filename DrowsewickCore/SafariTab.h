#pragma once

#include <QHashFunctions>
#include <QString>

// One open Safari tab as one snapshot reported it. Its key (window and address) is the tab's
// identity everywhere: tracker entries, active keys, closing.
class SafariTab
{
public:
    SafariTab() = default;
    SafariTab(qint64 windowID, QString url, QString title)
        : m_windowID(windowID), m_url(std::move(url)), m_title(std::move(title))
    {
    }

    qint64 windowID() const { return m_windowID; }
    const QString &url() const { return m_url; }
    const QString &title() const { return m_title; }

    QString key() const { return keyFor(m_windowID, m_url); }
    static QString keyFor(qint64 windowID, QStringView url);

    friend bool operator==(const SafariTab &, const SafariTab &) = default;

private:
    qint64 m_windowID = 0;
    QString m_url;
    QString m_title;
};

size_t qHash(const SafariTab &tab, size_t seed = 0) noexcept;
