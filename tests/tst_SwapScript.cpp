#include "SelfUpdater.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QCoreApplication>

#include <memory>
#include <unistd.h>

using namespace UpdateTest;

namespace {

// Puts a folder of stand-in tools in front of PATH for as long as it lives; the swap script
// inherits the environment it is started with.
class ToolsFirstOnPath
{
public:
    explicit ToolsFirstOnPath(const QString &folder) : m_previous(qgetenv("PATH"))
    {
        qputenv("PATH", QFile::encodeName(folder) + ':' + m_previous);
    }
    ~ToolsFirstOnPath() { qputenv("PATH", m_previous); }
    ToolsFirstOnPath(const ToolsFirstOnPath &) = delete;
    ToolsFirstOnPath &operator=(const ToolsFirstOnPath &) = delete;

private:
    QByteArray m_previous;
};

// The process whose command line names the script, or 0.
pid_t processRunning(const QString &script)
{
    const QByteArray name = QFile::encodeName(script);
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const pid_t pid = entry.toInt();
        if (pid > 0 && readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0').contains(name))
            return pid;
    }
    return 0;
}

} // namespace

class TestSwapScript : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_installed;
    QString m_newApp;
    QString m_started;
    SelfUpdater::Environment m_environment;

    QString script() const
    {
        return m_environment.workRoot + QStringLiteral("/nimbrel-update-%1.sh").arg(m_environment.pid);
    }
    void launchWaitingFor(qint64 pid)
    {
        m_environment.pid = pid;
        SelfUpdater::launchSwap(m_newApp, m_installed, m_environment);
    }

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_installed = m_root->filePath(QStringLiteral("Applications/Drowsewick.app"));
        m_newApp = m_root->filePath(QStringLiteral("update/nimbrel-update/unpacked/Drowsewick.app"));
        m_started = m_root->filePath(QStringLiteral("started"));
        makeBundle(m_installed, "old", m_started);
        writeFile(m_installed + QStringLiteral("/resources/only-old.txt"), "gone after the update\n");
        makeBundle(m_newApp, "new", m_started);
        writeFile(m_newApp + QStringLiteral("/resources/only-new.txt"), "arrives with the update\n");
        m_environment.workRoot = m_root->filePath(QStringLiteral("update"));
    }

    void waitsForTheAppThenSwaps()
    {
        if (!QFileInfo::exists(QStringLiteral("/proc/self")))
            QSKIP("finding the script's process takes Linux's /proc");
        QProcess app;
        app.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(app.waitForStarted());
        const auto before = contents(m_installed);
        launchWaitingFor(app.processId());

        QTRY_VERIFY(processRunning(script()) != 0);
        QVERIFY2(::getsid(processRunning(script())) != ::getsid(0), "the script shares the app's session");
        QTest::qWait(500);
        QVERIFY(!QFile::exists(m_started));
        QCOMPARE(contents(m_installed), before);

        app.kill();
        QVERIFY(app.waitForFinished());
        QTRY_COMPARE_WITH_TIMEOUT(readFile(m_started), startedAs("new", m_installed), 10000);
        QCOMPARE(contents(m_installed), contents(m_newApp));
        QVERIFY(!QFileInfo::exists(m_installed + QStringLiteral(".bak")));
    }

    // Each row makes one step of the swap fail through a tool of that name first on PATH; the
    // copy is cp, also inside ditto's stand-in.
    void failedSwapStartsTheOldBundle_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QByteArray>("behaviour");
        QTest::newRow("old backup cannot be removed") << "rm" << QByteArray("exit 1");
        QTest::newRow("installed bundle cannot be renamed") << "mv" << QByteArray("exit 1");
        QTest::newRow("copy fails before writing") << "cp" << QByteArray("exit 1");
        QTest::newRow("copy fails halfway") << "cp"
                                            << QByteArray("for last; do :; done\nmkdir -p \"$last\" && echo part > \"$last/part\"\nexit 1");
    }
    void failedSwapStartsTheOldBundle()
    {
        QFETCH(QString, tool);
        QFETCH(QByteArray, behaviour);
        const QString tools = m_root->filePath(QStringLiteral("tools"));
        writeFile(tools + QLatin1Char('/') + tool, "#!/bin/sh\n" + behaviour + "\n", true);
        const auto before = contents(m_installed);
        {
            ToolsFirstOnPath failing(tools);
            launchWaitingFor(endedProcess());
        }
        QTRY_COMPARE_WITH_TIMEOUT(readFile(m_started), startedAs("old", m_installed), 10000);
        QCOMPARE(contents(m_installed), before);
        QVERIFY(!QFileInfo::exists(m_installed + QStringLiteral(".bak")));
    }
};

DROWSEWICK_TEST_MAIN(TestSwapScript, QCoreApplication)
#include "tst_SwapScript.moc"
