#pragma once

#include "SafariTab.h"

#include <QList>
#include <QSet>
#include <QString>

#include <exception>

// What one snapshot of Safari reports: every readable tab in window and tab order, and the keys
// of the tabs that are current in their window.
struct SafariSnapshot
{
    QList<SafariTab> tabs;
    QSet<QString> activeKeys;

    friend bool operator==(const SafariSnapshot &, const SafariSnapshot &) = default;
};

class SafariError : public std::exception
{
public:
    enum class Kind { scriptFailed, notAuthorized };

    static SafariError scriptFailed(QString message) { return SafariError(Kind::scriptFailed, std::move(message), false); }
    // A failed script whose engine timed out or could not be started: the next script would
    // most likely wait as long, or fail the same way.
    static SafariError engineUnavailable(QString message) { return SafariError(Kind::scriptFailed, std::move(message), true); }
    static SafariError notAuthorized() { return SafariError(Kind::notAuthorized, {}, false); }

    Kind kind() const { return m_kind; }
    const QString &message() const { return m_message; }
    bool isEngineUnavailable() const { return m_engineUnavailable; }
    const char *what() const noexcept override;

private:
    SafariError(Kind kind, QString message, bool engineUnavailable);

    Kind m_kind;
    QString m_message;
    bool m_engineUnavailable;
    QByteArray m_what;
};

// The system's only contact with the browser. Every operation blocks until Safari has answered.
class SafariBridge
{
public:
    virtual ~SafariBridge() = default;
    virtual SafariSnapshot snapshot() = 0;
    virtual void close(const SafariTab &tab) = 0;
    virtual void open(const QString &url) = 0;
};

// The AppleScript texts the bridge runs, and the reading of the snapshot script's result. Plain
// text functions, so they can be checked without any script engine.
namespace SafariScript {

inline constexpr QChar fieldSeparator = QChar(0x0001);
inline constexpr QChar recordSeparator = QChar(0x0002);

QString snapshot();
// What the snapshot script writes for one tab: a separator inside the address or the title
// becomes a space there, so no page can add, drop or change a record.
QString record(const SafariTab &tab, bool current);
QString close(const SafariTab &tab);
QString open(const QString &url);

// The fixed text around the values of a close script. Ours compares addresses with case
// considered; AppleScript's plain "is" ignores case, which is what the stand-in must also accept.
struct CloseScriptFrame
{
    QString beforeWindow;
    QString beforeAddress;
    QString afterAddress;
};
CloseScriptFrame closeFrame(bool considerCase);
inline constexpr QStringView openPrefix = u"tell application \"Safari\" to open location \"";

// Makes an address safe between the double quotes of a script literal.
QString escape(QStringView url);
// Undoes escape(): "\\" is a backslash, "\"" a double quote; nothing else is an escape.
// Returns false for a text that escape() cannot have produced.
bool unescape(QStringView escaped, QString *url);

SafariSnapshot parseSnapshot(QStringView text);

} // namespace SafariScript
