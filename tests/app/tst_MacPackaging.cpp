#include "TestHome.h"
#include "ToolPaths.h"
#include "platform/LoginItem.h"
#include "platform/UpdatePlatform.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// A property list as macOS reads it, by way of Python's plistlib; empty when it is no valid one.
static QJsonObject propertyList(const QByteArray &text)
{
    const QString read = u"import json, plistlib, sys; print(json.dumps(plistlib.loads(sys.argv[1].encode())))"_qs;
    return QJsonDocument::fromJson(runTool(u"python3"_qs, {u"-c"_qs, read, QString::fromUtf8(text)}).output).object();
}

// What a Mac build puts into Drowsewick.app and the user's LaunchAgents, read as macOS reads them.
class TestMacPackaging : public QObject
{
    Q_OBJECT

private slots:
    void theBundleIsAMenuBarAppThatMaySendAppleEvents()
    {
        const QJsonObject info = propertyList(TestFiles::read(QStringLiteral(INFO_PLIST_PATH)));
        QCOMPARE((QStringList{info["CFBundleIdentifier"].toString(), info["CFBundleExecutable"].toString(),
                               info["CFBundleShortVersionString"].toString(), info["CFBundleIconFile"].toString()}),
                 (QStringList{"com.nimbrel.drowsewick", "Drowsewick", PROJECT_VERSION_TEXT,
                               QFileInfo(QStringLiteral(BUNDLE_ICON_PATH)).fileName()}));
        QVERIFY(info["LSUIElement"].toBool() && info["NSAppleEventsUsageDescription"].toString().contains(u"Safari"_qs));
        QVERIFY(TestFiles::read(QStringLiteral(BUNDLE_ICON_PATH)).startsWith("icns"));
        QCOMPARE(propertyList(TestFiles::read(QStringLiteral(ENTITLEMENTS_PATH))),
                 (QJsonObject{{"com.apple.security.automation.apple-events", true}}));
    }

    // It starts the app at login, and leaves what the app starts alone when the app quits.
    void theLaunchAgentStartsTheAppAtLogin()
    {
        const QString program = u"/Users/Ann & Lee/Apps <new>/Drowsewick.app/Contents/MacOS/Drowsewick"_qs;
        const QJsonObject agent = propertyList(LoginItem::entry(program));
        QCOMPARE(agent,
                 (QJsonObject{{"Label", "com.nimbrel.drowsewick"},
                               {"ProgramArguments", QJsonArray{program}},
                               {"RunAtLoad", true},
                               {"AbandonProcessGroup", true},
                               {"LimitLoadToSessionType", "Aqua"}}));
        QCOMPARE(LoginItem::entryPath(), QDir::homePath() + u"/Library/LaunchAgents/com.nimbrel.drowsewick.plist"_qs);
    }

    // What the swap does is tested by running it; only a Mac shows that the new bundle loses the
    // quarantine its download gave it, which would otherwise stop it at its first start.
    void theSwapLiftsTheQuarantine()
    {
        QVERIFY(UpdatePlatform::swapScriptTail().startsWith(ToolPaths::xattr() + u" -dr com.apple.quarantine \"$1\""_qs));
    }
};

DROWSEWICK_TEST_MAIN(TestMacPackaging, QCoreApplication)
#include "tst_MacPackaging.moc"
