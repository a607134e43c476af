#include "SafariBridge.h"

#include "DecimalNumber.h"

SafariError::SafariError(Kind kind, QString message, bool engineUnavailable)
    : m_kind(kind), m_message(std::move(message)), m_engineUnavailable(engineUnavailable)
{
    m_what = m_kind == Kind::notAuthorized ? QByteArrayLiteral("not authorized to control Safari")
                                           : m_message.toUtf8();
}

const char *SafariError::what() const noexcept
{
    return m_what.constData();
}

namespace SafariScript {

namespace {

QString joinLines(std::initializer_list<QStringView> lines)
{
    QString text;
    for (QStringView line : lines) {
        if (!text.isEmpty())
            text += u'\n';
        text += line;
    }
    return text;
}

QString cleanField(QStringView field)
{
    QString cleaned = field.toString();
    for (QChar &c : cleaned) {
        if (c == fieldSeparator || c == recordSeparator)
            c = u' ';
    }
    return cleaned;
}

} // namespace

QString snapshot()
{
    // A page chooses its own title, so a separator inside a field must never reach the result:
    // clean() turns each one into a space before the record is put together.
    static const QString script = joinLines({
        u"set fs to (ASCII character 1)",
        u"set rs to (ASCII character 2)",
        u"set out to \"\"",
        u"tell application \"Safari\"",
        u"  repeat with w in windows",
        u"    set wid to id of w",
        u"    try",
        u"      set curIdx to index of current tab of w",
        u"    on error",
        u"      set curIdx to -1",
        u"    end try",
        u"    set i to 0",
        u"    repeat with t in tabs of w",
        u"      set i to i + 1",
        u"      set isActive to \"0\"",
        u"      if i is curIdx then set isActive to \"1\"",
        u"      try",
        u"        set out to out & wid & fs & isActive & fs & my clean(URL of t) & fs & my clean(name of t) & rs",
        u"      end try",
        u"    end repeat",
        u"  end repeat",
        u"end tell",
        u"return out",
        u"on clean(field)",
        u"  set saved to AppleScript's text item delimiters",
        u"  set AppleScript's text item delimiters to {(ASCII character 1), (ASCII character 2)}",
        u"  set pieces to text items of field",
        u"  set AppleScript's text item delimiters to \" \"",
        u"  set field to pieces as text",
        u"  set AppleScript's text item delimiters to saved",
        u"  return field",
        u"end clean",
    });
    return script;
}

QString record(const SafariTab &tab, bool current)
{
    return QString::number(tab.windowID()) + fieldSeparator + (current ? u'1' : u'0') + fieldSeparator
        + cleanField(tab.url()) + fieldSeparator + cleanField(tab.title()) + recordSeparator;
}

CloseScriptFrame closeFrame(bool considerCase)
{
    // Without "considering case" the inner lines stand two spaces further left.
    const QString inner = considerCase ? QStringLiteral("  ") : QString();
    const auto lines = [&inner](std::initializer_list<QStringView> innerLines) {
        QString text;
        for (QStringView line : innerLines) {
            text += u'\n';
            text += inner;
            text += line;
        }
        return text;
    };
    const QString considering = considerCase ? QStringLiteral("\n      considering case") : QString();
    const QString endConsidering = considerCase ? QStringLiteral("\n      end considering") : QString();
    return {
        QStringLiteral("tell application \"Safari\"\n  repeat with w in windows\n    if (id of w) is "),
        QStringLiteral(" then") + considering
            + lines({u"      repeat with t in tabs of w", u"        if (URL of t) is \""}),
        QStringLiteral("\" then")
            + lines({u"          close t", u"          return", u"        end if", u"      end repeat"}) + endConsidering
            + QStringLiteral("\n    end if\n  end repeat\nend tell"),
    };
}

QString close(const SafariTab &tab)
{
    const CloseScriptFrame frame = closeFrame(true);
    return frame.beforeWindow + QString::number(tab.windowID()) + frame.beforeAddress + escape(tab.url())
        + frame.afterAddress;
}

QString open(const QString &url)
{
    return openPrefix.toString() + escape(url) + u'"';
}

QString escape(QStringView url)
{
    // Backslashes first: the backslash that escapes a quote must not be doubled again.
    QString escaped;
    escaped.reserve(url.size() + 8);
    for (QChar c : url) {
        if (c == u'\\')
            escaped += u"\\\\";
        else if (c == u'"')
            escaped += u"\\\"";
        else
            escaped += c;
    }
    return escaped;
}

bool unescape(QStringView escaped, QString *url)
{
    QString plain;
    plain.reserve(escaped.size());
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const QChar c = escaped[i];
        if (c == u'"')
            return false;
        if (c == u'\\') {
            if (i + 1 >= escaped.size())
                return false;
            const QChar next = escaped[++i];
            if (next != u'\\' && next != u'"')
                return false;
            plain += next;
        } else {
            plain += c;
        }
    }
    *url = std::move(plain);
    return true;
}

SafariSnapshot parseSnapshot(QStringView text)
{
    SafariSnapshot snapshot;
    for (QStringView record : text.tokenize(recordSeparator)) {
        if (record.isEmpty())
            continue;
        QStringView fields[4];
        int count = 0;
        for (QStringView field : record.tokenize(fieldSeparator)) {
            if (count == 4) {
                count = 5;
                break;
            }
            fields[count++] = field;
        }
        qint64 windowID = 0;
        if (count != 4 || !DecimalNumber::parseInt64(fields[0], &windowID))
            continue;
        SafariTab tab(windowID, fields[2].toString(), fields[3].toString());
        if (fields[1] == u"1")
            snapshot.activeKeys.insert(tab.key());
        snapshot.tabs.append(std::move(tab));
    }
    return snapshot;
}

} // namespace SafariScript
