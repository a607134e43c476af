#include "TestEnvironment.h"
#include "ToolPaths.h"
#include "platform/LoginItem.h"
#include "platform/UpdatePlatform.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

// A property list as macOS reads it, by way of Python's plistlib; empty when it is no valid one.
QJsonObject propertyList(const QByteArray &text)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QStringLiteral("import json, plistlib, sys; print(json.dumps(plistlib.loads(sys.stdin.buffer.read())))")});
    python.write(text);
    python.closeWriteChannel();
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QByteArray readFile(const char *path)
{
    QFile file(QString::fromUtf8(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// What a Mac build puts into Drowsewick.app and the user's LaunchAgents, and the swap script it
// hands to the shell, read as macOS reads them.
class TestMacPackaging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QProcess::execute(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral("import plistlib")}) == 0,
                 "python3 is needed to read property lists");
    }

    void theInfoPlistDescribesAMenuBarApp()
    {
        const QJsonObject info = propertyList(readFile(INFO_PLIST_PATH));
        QVERIFY2(!info.isEmpty(), "the configured Info.plist is no valid property list");
        QCOMPARE(info.value("CFBundleIdentifier").toString(), QStringLiteral("com.nimbrel.drowsewick"));
        QCOMPARE(info.value("CFBundleExecutable").toString(), QStringLiteral("Drowsewick"));
        QCOMPARE(info.value("CFBundlePackageType").toString(), QStringLiteral("APPL"));
        QCOMPARE(info.value("CFBundleShortVersionString").toString(), QStringLiteral(PROJECT_VERSION_TEXT));
        QCOMPARE(info.value("LSUIElement"), QJsonValue(true));
        // The icon it names is the one the build copies into Contents/Resources.
        QCOMPARE(info.value("CFBundleIconFile").toString(), QFileInfo(QStringLiteral(BUNDLE_ICON_PATH)).fileName());
        QVERIFY(readFile(BUNDLE_ICON_PATH).startsWith("icns"));
        const QString why = info.value("NSAppleEventsUsageDescription").toString();
        QVERIFY(why.contains(QLatin1String("Safari")));
        QVERIFY(why.endsWith(u'.'));
        QCOMPARE(why.count(u'.'), 1);
    }

    void theEntitlementsAllowAppleEventsOnly()
    {
        const QJsonObject entitlements = propertyList(readFile(ENTITLEMENTS_PATH));
        QCOMPARE(entitlements, (QJsonObject{{"com.apple.security.automation.apple-events", true}}));
    }

    void theLaunchAgentStartsTheAppAtLogin()
    {
        const QString program = QStringLiteral("/Users/Ann & Lee/Apps <new>/Drowsewick.app/Contents/MacOS/Drowsewick");
        const QJsonObject agent = propertyList(LoginItem::entry(program));
        QCOMPARE(agent.value("Label").toString(), QStringLiteral("com.nimbrel.drowsewick"));
        QCOMPARE(agent.value("ProgramArguments").toArray(), QJsonArray{program});
        QCOMPARE(agent.value("RunAtLoad"), QJsonValue(true));
        QCOMPARE(agent.value("AbandonProcessGroup"), QJsonValue(true));
        QCOMPARE(LoginItem::entryPath(), QDir::homePath() + QStringLiteral("/Library/LaunchAgents/com.nimbrel.drowsewick.plist"));
    }

    // Word for word the script that replaces the bundle on a Mac; only the three tools come from
    // the build's table, which names them as a Mac has them unless the build runs stand-ins.
    void theSwapScriptIsTheMacOne()
    {
        const QString script = QStringLiteral(
            "xattr -dr com.apple.quarantine \"$1\" 2>/dev/null\n"
            "if rm -rf \"$2.bak\" && mv \"$2\" \"$2.bak\" 2>/dev/null; then\n"
            "  if /usr/bin/ditto \"$1\" \"$2\" 2>/dev/null; then\n"
            "    rm -rf \"$2.bak\"\n"
            "  else\n"
            "    rm -rf \"$2\" && mv \"$2.bak\" \"$2\"\n"
            "  fi\n"
            "fi\n"
            "open \"$2\"");
        QCOMPARE(UpdatePlatform::swapScriptTail(), QString(script)
                                                       .replace(QStringLiteral("xattr -dr"), ToolPaths::xattr() + QStringLiteral(" -dr"))
                                                       .replace(QStringLiteral("/usr/bin/ditto"), ToolPaths::ditto())
                                                       .replace(QStringLiteral("open \""), ToolPaths::open() + QStringLiteral(" \"")));
    }
};

DROWSEWICK_TEST_MAIN(TestMacPackaging, QCoreApplication)
#include "tst_MacPackaging.moc"
