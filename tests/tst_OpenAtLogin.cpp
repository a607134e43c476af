#include "ModelHarness.h"
#include "SettingsWindowController.h"
#include "TestEnvironment.h"
#include "platform/LoginItem.h"

#include <QApplication>
#include <QCheckBox>
#include <QLayout>

#include <memory>
#include <stdexcept>

namespace {

QByteArray readEntry()
{
    QFile file(LoginItem::entryPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray execLineOf(const QByteArray &entry)
{
    for (const QByteArray &line : entry.split('\n')) {
        if (line.startsWith("Exec="))
            return line;
    }
    return {};
}

// A controller and its settings window, as one run of the program has them.
struct Run
{
    ModelHarness harness;
    SettingsWindowController windows;

    SettingsView &view()
    {
        windows.show(*harness.model);
        QCoreApplication::processEvents();
        return *windows.window();
    }
    QCheckBox &openAtLogin()
    {
        auto *found = view().findChild<QCheckBox *>(QStringLiteral("openAtLoginSwitch"));
        if (!found)
            throw std::runtime_error("no open-at-login switch");
        return *found;
    }
};

} // namespace

class TestOpenAtLogin : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QFile::remove(LoginItem::entryPath());
        QFile::remove(Settings::applicationFolder() + QStringLiteral("/settings.json"));
    }

    void theSwitchWritesAndRemovesTheLoginItem()
    {
        Run run;
        QCheckBox &open = run.openAtLogin();
        QCOMPARE(open.text(), QStringLiteral("Open at login"));
        QVERIFY(!open.isChecked());

        open.click();
        QVERIFY(open.isChecked());
        QCOMPARE(readEntry(), LoginItem::entry(QCoreApplication::applicationFilePath()));
        // The entry is the setting: nothing of it goes into the settings file.
        QVERIFY(!QFile::exists(Settings::applicationFolder() + QStringLiteral("/settings.json")));

        open.click();
        QVERIFY(!open.isChecked());
        QVERIFY(!QFile::exists(LoginItem::entryPath()));
    }

    void itSitsRightAfterPauseSweeping()
    {
        Run run;
        auto *pause = run.view().findChild<QCheckBox *>(QStringLiteral("pauseSwitch"));
        QVERIFY(pause);
        QLayout *rows = pause->parentWidget()->layout();
        QCOMPARE(rows->indexOf(&run.openAtLogin()), rows->indexOf(pause) + 1);
    }

    void theStateSurvivesARestart()
    {
        {
            Run first;
            first.openAtLogin().click();
        }
        Run second;
        QVERIFY(second.openAtLogin().isChecked());
    }

    void theWindowShowsWhatTheSystemChanged()
    {
        Run run;
        QCheckBox &open = run.openAtLogin();
        run.view().hide();
        QVERIFY(LoginItem::setEnabled(true)); // as the desktop's own settings would
        run.view();
        QVERIFY(open.isChecked());
        run.view().hide();
        QVERIFY(QFile::remove(LoginItem::entryPath()));
        run.view();
        QVERIFY(!open.isChecked());
    }

    void aRefusedWriteLeavesTheSwitchOff()
    {
        // A file where the autostart folder should be: the entry cannot be written.
        const QString folder = QFileInfo(LoginItem::entryPath()).absolutePath();
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Run run;
        run.openAtLogin().click();
        QVERIFY(!run.openAtLogin().isChecked());
        QVERIFY(QFile::remove(folder));
    }

    void theEntryGoesWhereXdgConfigHomeSays()
    {
        if (macOSFlavour())
            QSKIP("the XDG autostart entry is the Linux login item; tst_MacPackaging reads the LaunchAgent");
        const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(QDir::homePath()) + "/elsewhere");
        QVERIFY(LoginItem::setEnabled(true));
        const bool written = QFile::exists(QDir::homePath() + QStringLiteral("/elsewhere/autostart/drowsewick.desktop"));
        QVERIFY(LoginItem::setEnabled(false));
        qputenv("XDG_CONFIG_HOME", configHome);
        QVERIFY(written);
    }

    void anyPathStaysOneArgument_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("exec");
        QTest::newRow("plain") << "/usr/lib/drowsewick/drowsewick" << QByteArray("Exec=\"/usr/lib/drowsewick/drowsewick\"");
        QTest::newRow("space") << "/home/Ann Lee/.local/bin/drowsewick" << QByteArray("Exec=\"/home/Ann Lee/.local/bin/drowsewick\"");
        QTest::newRow("dollar") << "/opt/$HOME/drowsewick" << QByteArray("Exec=\"/opt/\\\\$HOME/drowsewick\"");
        QTest::newRow("backtick") << "/opt/`id`/drowsewick" << QByteArray("Exec=\"/opt/\\\\`id\\\\`/drowsewick\"");
        QTest::newRow("double quote") << "/opt/a\"b/drowsewick" << QByteArray("Exec=\"/opt/a\\\\\"b/drowsewick\"");
        QTest::newRow("backslash") << "/opt/a\\b/drowsewick" << QByteArray("Exec=\"/opt/a\\\\\\\\b/drowsewick\"");
        QTest::newRow("percent") << "/opt/100%u/drowsewick" << QByteArray("Exec=\"/opt/100%%u/drowsewick\"");
    }
    void anyPathStaysOneArgument()
    {
        if (macOSFlavour())
            QSKIP("the XDG autostart entry is the Linux login item; tst_MacPackaging reads the LaunchAgent");
        QFETCH(QString, program);
        QFETCH(QByteArray, exec);
        const QByteArray entry = LoginItem::entry(program);
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        QVERIFY(entry.contains("\nType=Application\n"));
        QCOMPARE(execLineOf(entry), exec);
    }
};

DROWSEWICK_TEST_MAIN(TestOpenAtLogin, QApplication)
#include "tst_OpenAtLogin.moc"
