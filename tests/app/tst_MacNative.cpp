#include "BuildConfig.h"
#include "Bundles.h"
#include "LiveSafariBridge.h"
#include "SelfUpdater.h"
#include "platform/UpdatePlatform.h"

// What only a Mac can show: how its own tools answer what Drowsewick gives them, and what the
// stand-ins that take their place elsewhere must therefore do.
class TestMacNative : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QString at(const char *name) const { return m_folder.filePath(QLatin1String(name)); }

private slots:
    void init()
    {
        if (!QFileInfo::exists(u"/usr/bin/osascript"_qs))
            QSKIP("only a Mac, with its own tools, can make this check");
    }

    void osascriptErrorsReadAsTheBridgeReadsThem()
    {
        // The engine drops the bridge's script and has osascript run this one.
        const auto errorOf = [](const QString &script) {
            const ProcessCommand engine{u"/bin/sh"_qs,
                                         {u"-c"_qs, u"cat >/dev/null; printf '%s' \"$0\" | exec /usr/bin/osascript"_qs, script}};
            try {
                LiveSafariBridge(SafariEngine{engine, engine, std::chrono::seconds(30)}).open(u"https://a.example/"_qs);
            } catch (const SafariError &error) {
                return std::pair(error.kind(), error.message());
            }
            return std::pair(SafariError::Kind::scriptFailed, u"no error"_qs);
        };
        QCOMPARE(errorOf(u"error \"x\" number -1743"_qs), std::pair(SafariError::Kind::notAuthorized, QString()));
        QCOMPARE(errorOf(u"error \"Cannot get tab 1 (of it).\" number -1728"_qs),
                 std::pair(SafariError::Kind::scriptFailed, u"Cannot get tab 1 (of it)."_qs));
    }

    // Refused as not satisfying the requirement (3), not as a requirement codesign cannot read
    // (1); the installer's requirement as text, after "=", in one argument.
    void adHocSignatureIsNotThePublishers()
    {
        QVERIFY(runTool(u"/usr/bin/ditto"_qs, {QStringLiteral(BUNDLE_PATH), at("Drowsewick.app")}).exitCode == 0
                && runTool(u"/usr/bin/codesign"_qs, {u"--force"_qs, u"--sign"_qs, u"-"_qs, at("Drowsewick.app")}).exitCode == 0);
        const ToolRun check = runTool(
                u"/usr/bin/codesign"_qs,
                {u"--verify"_qs, u"-R"_qs,
                 u"=anchor apple generic and certificate leaf[subject.OU] = \"%1\""_qs.arg(QLatin1String(BuildConfig::teamID)),
                 at("Drowsewick.app")});
        QVERIFY2(check.exitCode == 3, check.output.constData());
    }

    // Every script compiles, and the snapshot's own handler cleans a field holding both
    // separators as the stand-in does.
    void theScriptsCompileAndCleanFieldsAsTheStandinDoes()
    {
        const QString address = u"https://a.example/\"q\"\\"_qs, snapshot = SafariScript::snapshot();
        for (const QString &script : {snapshot, SafariScript::close(SafariTab(4711, address, {})), SafariScript::open(address)}) {
            TestFiles::write(at("script.applescript"), script.toUtf8());
            QCOMPARE(runTool(u"/usr/bin/osacompile"_qs, {u"-o"_qs, at("script.scpt"), at("script.applescript")}).output,
                     QByteArray()); // or what it found wrong
        }
        const QString standin = SafariScript::record(SafariTab(1, u"a\u0001\u0002b\u0002c"_qs, {}), false)
                                        .split(SafariScript::fieldSeparator)
                                        .value(2);
        TestFiles::write(at("clean.applescript"),
                         "return clean(\"a\" & (ASCII character 1) & (ASCII character 2) & \"b\" & (ASCII character 2) & \"c\")\n"
                                 + snapshot.mid(snapshot.indexOf(u"on clean(")).toUtf8());
        QCOMPARE(runTool(u"/usr/bin/osascript"_qs, {at("clean.applescript")}).output, standin.toUtf8() + '\n');
    }

    // A release is zipped as the publisher does it, and the installer's unpacking must give back
    // the bundle as it was.
    void dittoArchiveUnpacksThroughTheInstaller()
    {
        Bundles::make(at("staging/Drowsewick.app"), "new", at("started"));
        QCOMPARE(runTool(u"/usr/bin/ditto"_qs,
                         {u"-c"_qs, u"-k"_qs, u"--keepParent"_qs, at("staging/Drowsewick.app"), at("update.zip")})
                         .exitCode,
                 0);
        UpdatePlatform::unpack(at("update.zip"), at("unpacked"), SelfUpdater::Attempt({}, [] { return false; }));
        QCOMPARE(TestFiles::contents(at("unpacked/Drowsewick.app")), TestFiles::contents(at("staging/Drowsewick.app")));
        QVERIFY(QFileInfo(UpdatePlatform::executable(at("unpacked/Drowsewick.app"))).isExecutable());
    }
};

DROWSEWICK_TEST_MAIN(TestMacNative, QCoreApplication)
#include "tst_MacNative.moc"
