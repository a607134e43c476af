#include "BuildConfig.h"
#include "LiveSafariBridge.h"
#include "SelfUpdater.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QCoreApplication>

using namespace UpdateTest;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(SafariError::Kind)

namespace {

// A Mac's own tools, whatever this build runs in their place.
const QString osascript = QStringLiteral("/usr/bin/osascript");
const QString osacompile = QStringLiteral("/usr/bin/osacompile");
const QString codesign = QStringLiteral("/usr/bin/codesign");
const QString ditto = QStringLiteral("/usr/bin/ditto");

} // namespace

// What only a Mac can show: how its own tools answer what Drowsewick gives them, and what the
// stand-ins that take their place elsewhere must therefore do.
class TestMacNative : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        for (const QString &tool : {osascript, osacompile, codesign, ditto}) {
            if (!QFileInfo(tool).isExecutable())
                QSKIP(qPrintable(tool + QStringLiteral(" is missing: only a Mac can make this check")));
        }
    }

    void osascriptErrorsReadAsTheBridgeReadsThem_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<SafariError::Kind>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("automation refused") << u"error \"x\" number -1743"_qs << SafariError::Kind::notAuthorized << QString();
        QTest::newRow("another error") << u"error \"Cannot get tab 1 (of it).\" number -1728"_qs << SafariError::Kind::scriptFailed
                                       << u"Cannot get tab 1 (of it)."_qs;
    }
    void osascriptErrorsReadAsTheBridgeReadsThem()
    {
        QFETCH(QString, script);
        QFETCH(SafariError::Kind, kind);
        QFETCH(QString, message);
        // The engine drops the bridge's script and has osascript run this one.
        const ProcessCommand engine{QStringLiteral("/bin/sh"),
                                    {QStringLiteral("-c"), QStringLiteral("cat >/dev/null; printf '%s' \"$0\" | exec \"$1\""), script, osascript}};
        LiveSafariBridge bridge(SafariEngine{engine, engine, 30s});
        try {
            bridge.open(QStringLiteral("https://a.example/"));
            QFAIL("osascript reported no error");
        } catch (const SafariError &error) {
            QCOMPARE(error.kind(), kind);
            QCOMPARE(error.message(), message);
        }
    }

    // Refused as not satisfying the requirement (3), not as a requirement codesign cannot read (1).
    void adHocSignatureIsNotThePublishers()
    {
        QTemporaryDir folder;
        const QString bundle = folder.filePath(QStringLiteral("Drowsewick.app"));
        QCOMPARE(runTool(ditto, {QStringLiteral(BUNDLE_PATH), bundle}).exitCode, 0);
        const ToolRun signing = runTool(codesign, {QStringLiteral("--force"), QStringLiteral("--sign"), QStringLiteral("-"), bundle});
        QVERIFY2(signing.exitCode == 0, signing.output.constData());
        // The installer's check: the requirement as text, after "=", in one argument.
        const QString requirement =
            QStringLiteral("=anchor apple generic and certificate leaf[subject.OU] = \"%1\"").arg(QLatin1String(BuildConfig::teamID));
        const ToolRun check = runTool(codesign, {QStringLiteral("--verify"), QStringLiteral("-R"), requirement, bundle});
        QVERIFY2(check.exitCode == 3, check.output.constData());
    }

    void theScriptsCompile()
    {
        QTemporaryDir folder;
        const QString source = folder.filePath(QStringLiteral("script.applescript"));
        const QString address = QStringLiteral("https://a.example/\"q\"\\");
        for (const QString &script : {SafariScript::snapshot(), SafariScript::close(SafariTab(4711, address, {})), SafariScript::open(address)}) {
            writeFile(source, script.toUtf8());
            const ToolRun compiled = runTool(osacompile, {QStringLiteral("-o"), folder.filePath(QStringLiteral("script.scpt")), source});
            QVERIFY2(compiled.exitCode == 0, qPrintable(script + u'\n' + QString::fromUtf8(compiled.output)));
        }
    }

    // The snapshot script's own handler on a field holding both separators, against what the
    // stand-in writes for that field.
    void snapshotCleansFieldsAsTheStandinDoes()
    {
        const QString field = u"a\u0001\u0002b\u0002c"_qs;
        const QString standin = SafariScript::record(SafariTab(1, field, {}), false).split(SafariScript::fieldSeparator).value(2);
        const QString snapshot = SafariScript::snapshot();
        QTemporaryDir folder;
        const QString script = folder.filePath(QStringLiteral("clean.applescript"));
        writeFile(script, "return clean(\"a\" & (ASCII character 1) & (ASCII character 2) & \"b\" & (ASCII character 2) & \"c\")\n"
                              + snapshot.mid(snapshot.indexOf(u"on clean(")).toUtf8());
        const ToolRun run = runTool(osascript, {script});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.output), standin + u'\n');
    }

    // A release is zipped as the publisher does it, and the installer's unpacking must give back
    // the bundle as it was.
    void dittoArchiveUnpacksThroughTheInstaller()
    {
        QTemporaryDir folder;
        const QString bundle = folder.filePath(QStringLiteral("staging/Drowsewick.app"));
        makeBundle(bundle, "new", folder.filePath(QStringLiteral("started")));
        const QString archive = folder.filePath(QStringLiteral("update.zip"));
        QCOMPARE(runTool(ditto, {QStringLiteral("-c"), QStringLiteral("-k"), QStringLiteral("--keepParent"), bundle, archive}).exitCode, 0);
        UpdatePlatform::unpack(archive, folder.filePath(QStringLiteral("unpacked")), SelfUpdater::Attempt({}, [] { return false; }));
        const QString unpacked = folder.filePath(QStringLiteral("unpacked/Drowsewick.app"));
        QCOMPARE(contents(unpacked), contents(bundle));
        QVERIFY(QFileInfo(UpdatePlatform::executable(unpacked)).isExecutable());
    }
};

DROWSEWICK_TEST_MAIN(TestMacNative, QCoreApplication)
#include "tst_MacNative.moc"
