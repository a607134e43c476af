#pragma once

#include <QString>

// One of the three script texts the bridge sends, recognised with its values, or none of them.
struct StandinScript
{
    enum class Kind { snapshot, close, open, unknown };

    Kind kind = Kind::unknown;
    qint64 windowID = 0;
    QString address{};
    // Plain AppleScript "is" ignores case; the bridge's close script asks to consider it.
    Qt::CaseSensitivity addressCase = Qt::CaseInsensitive;

    static StandinScript recognise(QStringView text);

    // How the operation log names this run.
    QString logEntry() const;
};
