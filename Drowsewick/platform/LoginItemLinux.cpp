#include "platform/LoginItem.h"

#include <QStandardPaths>

namespace LoginItem {

namespace {

// One argument of a desktop entry's Exec key: quoted, with the characters that are special
// inside the quotes escaped; then the key file's own escape of the backslash, and "%%" for a
// percent sign, which would otherwise start a field code.
QString execArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'%', QStringLiteral("%%"));
}

} // namespace

QString entryPath()
{
    // The XDG autostart folder: ${XDG_CONFIG_HOME:-~/.config}/autostart.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/autostart/drowsewick.desktop");
}

QByteArray entry(const QString &program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Drowsewick\n"
                          "Comment=Archives and closes idle Safari tabs\n"
                          "Exec=%1\n"
                          "Icon=drowsewick\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execArgument(program))
        .toUtf8();
}

} // namespace LoginItem
