#include "ModelHarness.h"
#include "TestHome.h"

#include "Archive.h"

#include <QCoreApplication>

// Pages choose their titles, and in part their addresses: texts built to break the scripts, the
// archive's lines or the protocol, swept through the controller and the stand-in.
using Standin::Tab;

static const Tab current{u"https://current.example/"_qs, u"Current"_qs};

// Texts that try to end a script literal, a Markdown link or a protocol field early.
static const QList<Tab> tryToBreakOut{
    {u"https://q.example/é日本😀\"quoted\"\\\"\\"_qs, u"C:\\dir\\ say \"hi\""_qs},
    {u"https://s.example/\" & (do shell script \"touch /tmp/x\") & \""_qs, u"end tell"_qs},
    {u"https://m.example/wiki/Mercury_(planet)?q=](x)"_qs, u"](evil) [x] Mercury [planet]"_qs},
    {u"https://n.example/"_qs, u"two\nlines\rand\n- [fake](https://fake.example/)"_qs},
    {u"https://CURRENT.example/"_qs, u"the current tab in capitals"_qs},
    {u"https://sep.example/title"_qs, u"Field\u0001separator\u0002and record"_qs},
    {u"https://big.example/"_qs, QString(1 << 19, u'\u00e9')}, {u"https://long.example/"_qs + QString(100000, u'a'), QString()},
};

// Tabs whose archive line would not read back as the tab: no sweep may take them.
static const QList<Tab> mustStayOpen{
    {u"https://feed.example/\n- [fake](https://fake.example/) · 09:00"_qs, u"Line feed"_qs},
    {u"https://example.com/a)b"_qs, u"Unmatched parenthesis"_qs}, {u"https://example.com/x)(y"_qs, u"The wrong way round"_qs},
};

class TestHostileInput : public QObject
{
    Q_OBJECT

private slots:
    // The archive reads back exactly the tabs that were closed (a separator in a title became a
    // space), and each close took its own tab; the others count as protected: not idle, no
    // message, left out of a saved snapshot too.
    void textsThatTryToBreakOutAreArchivedWholeAndClosedAlone()
    {
        Standin::setWindows({{1, 1, QList<Tab>{current} + tryToBreakOut + mustStayOpen}});
        ModelHarness h;
        h.pollAgainAfter(8);
        QCOMPARE(h.unarchivedCloses, QStringList());
        QList<ArchivedTab> expected;
        for (const Tab &tab : tryToBreakOut)
            expected.append({Archive::cleanTitle(
                                     SafariTab(1, tab.url, QString(tab.title).replace(QChar(1), u' ').replace(QChar(2), u' '))),
                             tab.url});
        QCOMPARE(Archive::all(h.model->settings().archiveFolder()), expected);
        QCOMPARE(Standin::openUrls(), (QStringList{current.url, mustStayOpen[0].url, mustStayOpen[1].url, mustStayOpen[2].url}));
        QCOMPARE(h.model->staleCount(), 0);
        QVERIFY2(h.model->lastSweepSummary().startsWith(u"Swept 8 tabs · "_qs), qPrintable(h.model->lastSweepSummary()));

        h.model->sweepNow();
        QCOMPARE(h.model->lastSweepSummary(), u"Nothing idle to sweep."_qs);
        QDir(h.model->settings().archiveFolder()).removeRecursively();
        h.model->saveAllOpenTabs();
        QCOMPARE(Archive::all(h.model->settings().archiveFolder()),
                 QList<ArchivedTab> {(ArchivedTab{u"Current"_qs, current.url})});
    }
};

DROWSEWICK_TEST_MAIN(TestHostileInput, QCoreApplication)
#include "tst_HostileInput.moc"
