#include "platform/LoginItem.h"

#include <QDir>

namespace LoginItem {

QString entryPath()
{
    return QDir::homePath() + QStringLiteral("/Library/LaunchAgents/com.nimbrel.drowsewick.plist");
}

QByteArray entry(const QString &program)
{
    // launchd starts the executable itself when the user logs in to the desktop (Aqua, not an ssh
    // session). Quitting for an update must not take the swap script with it, so launchd leaves
    // the job's other processes alone when the app ends.
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n"
                          "<dict>\n"
                          "\t<key>Label</key>\n"
                          "\t<string>com.nimbrel.drowsewick</string>\n"
                          "\t<key>ProgramArguments</key>\n"
                          "\t<array>\n"
                          "\t\t<string>%1</string>\n"
                          "\t</array>\n"
                          "\t<key>RunAtLoad</key>\n"
                          "\t<true/>\n"
                          "\t<key>AbandonProcessGroup</key>\n"
                          "\t<true/>\n"
                          "\t<key>LimitLoadToSessionType</key>\n"
                          "\t<string>Aqua</string>\n"
                          "</dict>\n"
                          "</plist>\n")
        .arg(program.toHtmlEscaped())
        .toUtf8();
}

} // namespace LoginItem
