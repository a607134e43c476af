#include "TestEnvironment.h"
#include "platform/LoginItem.h"

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

// What a Mac build puts into Drowsewick.app and the user's LaunchAgents, read as macOS reads it.
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
};

DROWSEWICK_TEST_MAIN(TestMacPackaging, QCoreApplication)
#include "tst_MacPackaging.moc"
