#include "LocalHttpsServer.h"
#include "ModelHarness.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"

#include <QCoreApplication>

// The stand-in here is reached through a script that can also answer with bytes of a test's
// choosing (see scripted-engine.in).
namespace {

using StandinControl::Tab;
using StandinControl::Window;

const QString current = QStringLiteral("https://current.example/");
const QChar fieldSeparator = QChar(0x0001);
const QChar recordSeparator = QChar(0x0002);

QList<ArchivedTab> archived(const DrowsewickModel &model)
{
    return Archive::all(model.settings().archiveFolder());
}

// As the snapshot reports the tab (a separator in the title becomes a space), and as the
// archive then holds it.
ArchivedTab entryFor(const Tab &tab)
{
    const QString title = QString(tab.title).replace(fieldSeparator, u' ').replace(recordSeparator, u' ');
    return {Archive::cleanTitle(SafariTab(1, tab.url, title)), tab.url};
}

QStringList urlsOf(const QList<Tab> &tabs)
{
    QStringList urls;
    for (const Tab &tab : tabs)
        urls.append(tab.url);
    return urls;
}

// Texts that try to end a script literal, a Markdown link or a protocol field early.
QList<Tab> tabsThatTryToBreakOut()
{
    return {
        {QStringLiteral("https://q.example/\"quoted\""), QStringLiteral("say \"hi\"")},
        {QStringLiteral("https://b.example/back\\slash\\"), QStringLiteral("C:\\dir\\")},
        {QStringLiteral("https://b.example/\\\""), QStringLiteral("\\\"")},
        {QStringLiteral("https://s.example/\" & (do shell script \"touch /tmp/x\") & \""), QStringLiteral("end tell")},
        {QStringLiteral("https://m.example/wiki/Mercury_(planet)"), QStringLiteral("Mercury [planet] - Wiki")},
        {QStringLiteral("https://m.example/open(paren"), QStringLiteral("](evil) [x]")},
        {QStringLiteral("https://l.example/?q=](x)"), QStringLiteral("- [fake](https://fake.example/) · 09:00")},
        {QStringLiteral("https://n.example/"), QStringLiteral("two\nlines\rand\n- [fake](https://fake.example/)")},
        {QStringLiteral("https://CURRENT.example/"), QStringLiteral("the current tab in capitals")},
        {QStringLiteral("https://big.example/"), QString(1 << 19, u'\u00e9')},
        {QStringLiteral("https://long.example/") + QString(100000, u'a'), QString()},
        {QStringLiteral("https://sep.example/title"), QStringLiteral("Field") + fieldSeparator + QStringLiteral("separator")},
    };
}

// Tabs whose archive line would not read back as the tab: no sweep may take them.
QList<Tab> tabsThatMustStayOpen()
{
    return {
        {QStringLiteral("https://feed.example/\n- [fake](https://fake.example/) · 09:00"), QStringLiteral("Line feed")},
        {QStringLiteral("https://example.com/a)b"), QStringLiteral("Unmatched closing parenthesis")},
        {QStringLiteral("https://example.com/x)(y"), QStringLiteral("Parentheses the wrong way round")},
    };
}

QString engineFile(const QString &name)
{
    return StandinControl::folder() + u'/' + name;
}

void setEngineAnswer(const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(StandinControl::folder());
    QFile file(engineFile(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray record(const QByteArray &window, const QByteArray &active, const QByteArray &url, const QByteArray &title)
{
    return window + '\x01' + active + '\x01' + url + '\x01' + title + '\x02';
}

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

    LocalHttpsServer m_server;

private slots:
    void init()
    {
        QDir(StandinControl::folder()).removeRecursively();
        QDir(QDir::homePath() + QStringLiteral("/Documents")).removeRecursively();
        QFile::remove(DrowsewickModel::trackerPath());
    }

    void textsThatTryToBreakOutAreArchivedWholeAndClosedAlone()
    {
        const QList<Tab> swept = tabsThatTryToBreakOut();
        const QList<Tab> kept = tabsThatMustStayOpen();
        StandinControl::setWindows({Window{1, 1, QList<Tab>{{current, QStringLiteral("Current")}} + swept + kept}});
        ModelHarness h;
        h.model->tick();
        h.advanceDays(8);
        h.model->tick();

        QCOMPARE(h.unarchivedCloses, QStringList());
        QList<ArchivedTab> expected;
        for (const Tab &tab : swept)
            expected.append(entryFor(tab));
        QCOMPARE(archived(*h.model), expected);
        QCOMPARE(StandinControl::openUrls(), QStringList{current} + urlsOf(kept));
        QVERIFY2(h.model->lastSweepSummary().startsWith(QStringLiteral("Swept %1 tabs · ").arg(swept.size())),
                 qPrintable(h.model->lastSweepSummary()));
        QCOMPARE(QDir(h.model->settings().archiveFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"2026-03-22.md"});
    }

    // They count as protected: not idle, no message, left out of a saved snapshot too.
    void aTabNoLineCanHoldIsNeverIdle()
    {
        const QList<Tab> kept = tabsThatMustStayOpen();
        StandinControl::setWindows({Window{1, 1, QList<Tab>{{current, QStringLiteral("Current")}} + kept}});
        ModelHarness h;
        h.model->tick();
        h.advanceDays(8);
        h.model->tick();
        QCOMPARE(h.model->staleCount(), 0);
        QCOMPARE(h.model->lastSweepSummary(), QString());
        h.model->sweepNow();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Nothing idle to sweep."));
        h.model->saveAllOpenTabs();
        QCOMPARE(archived(*h.model), QList<ArchivedTab>{(ArchivedTab{QStringLiteral("Current"), current})});
        QCOMPARE(StandinControl::openUrls(), QStringList{current} + urlsOf(kept));
    }

    void engineOutputThatIsNotUtf8()
    {
        StandinControl::setWindows({});
        const QByteArray bad = "https://bad.example/\xff\xfe\xed\xa0\x80";
        setEngineAnswer(QStringLiteral("engine-output"),
                        record("7", "1", "https://current.example/", "Current") + record("7", "0", bad, "T\xc3\x28\xc0\xaf")
                            + "\xf8\x88\x80\x80\x80 not a record");
        ModelHarness h;
        h.model->tick();
        QCOMPARE(h.model->trackedCount(), 2);
        const SafariTab odd = h.model->lastTabs().last();
        QVERIFY(odd.url().startsWith(QStringLiteral("https://bad.example/")));
        h.advanceDays(8);
        h.model->tick();
        QCOMPARE(h.model->lastSweepSummary().left(14), QStringLiteral("Swept 1 tab · "));
        QCOMPARE(archived(*h.model), QList<ArchivedTab>{(ArchivedTab{Archive::cleanTitle(odd), odd.url()})});
        QVERIFY(TabTracker::fromJson(UpdateTest::readFile(DrowsewickModel::trackerPath())));

        QFile::remove(engineFile(QStringLiteral("engine-output")));
        setEngineAnswer(QStringLiteral("engine-error"), "0:35: execution error: \xff\xfe broken (\xc3\x28)\n");
        StandinControl::setWindows({Window{7, 1, {{current, QStringLiteral("Current")}}}});
        h.model->tick();
        QCOMPARE(h.model->trackedCount(), 0);
        QVERIFY(!h.model->permissionDenied());
    }

    void manifestsThatPointElsewhereOfferNothing_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("http") << "http://updates.example/Drowsewick.zip";
        QTest::newRow("file") << "file:///etc/passwd";
        QTest::newRow("javascript") << "javascript:alert(1)";
        QTest::newRow("javascript behind https") << "https:javascript:alert(1)";
        QTest::newRow("ftp") << "ftp://updates.example/Drowsewick.zip";
        QTest::newRow("data") << "data:application/zip;base64,UEsFBgAAAAAAAAAAAAAAAAAAAAAAAA==";
        QTest::newRow("https without a host") << "https:///etc/passwd";
        QTest::newRow("line feed in the host") << "https://updates.example\n.evil.example/a.zip";
    }
    void manifestsThatPointElsewhereOfferNothing()
    {
        QFETCH(QString, url);
        QVERIFY2(m_server.isListening(), "no local HTTPS server");
        const QString path = QStringLiteral("/drowsewick/latest.json");
        m_server.answer(path, 200, QJsonDocument(QJsonObject{{"version", "9.0"}, {"url", url}}).toJson());
        ModelHarness h;
        h.manifest = m_server.url(path);
        h.makeModel();
        m_server.trustOn(*h.network);
        const int requests = m_server.requestCount();
        h.model->checkForUpdatesManually();
        QTRY_VERIFY(!h.model->isCheckingForUpdate());
        QCOMPARE(m_server.requestCount(), requests + 1);
        QVERIFY(!h.model->availableUpdate());
        QCOMPARE(h.dialogs.shown.size(), 1);
        QCOMPARE(h.dialogs.shown.first().message, QStringLiteral("You're up to date"));
        QVERIFY(h.installed.isEmpty());
    }
};

DROWSEWICK_TEST_MAIN(TestHostileInput, QCoreApplication)
#include "tst_HostileInput.moc"
