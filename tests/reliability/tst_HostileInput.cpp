#include "ModelHarness.h"
#include "TestHome.h"

#include "Archive.h"

#include <QCoreApplication>

// Pages choose their titles, and in part their addresses: texts built to break the scripts, the
// archive's lines or the protocol, swept through the controller and the stand-in.
namespace {

using Standin::Tab;
using Standin::Window;

const QString current = QStringLiteral("https://current.example/");

QList<ArchivedTab> archived(const DrowsewickModel &model)
{
    return Archive::all(model.settings().archiveFolder());
}

// As the snapshot reports the tab (a separator in the title becomes a space), and as the
// archive then holds it.
ArchivedTab entryFor(const Tab &tab)
{
    const QString title = QString(tab.title).replace(QChar(1), u' ').replace(QChar(2), u' ');
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
const QList<Tab> tabsThatTryToBreakOut{
    {QStringLiteral("https://q.example/\"quoted\"\\\""), QStringLiteral("C:\\dir\\ say \"hi\"")},
    {QStringLiteral("https://s.example/\" & (do shell script \"touch /tmp/x\") & \""), QStringLiteral("end tell")},
    {QStringLiteral("https://m.example/wiki/Mercury_(planet)?q=](x)"), QStringLiteral("](evil) [x] Mercury [planet]")},
    {QStringLiteral("https://n.example/"), QStringLiteral("two\nlines\rand\n- [fake](https://fake.example/)")},
    {QStringLiteral("https://CURRENT.example/"), QStringLiteral("the current tab in capitals")},
    {QStringLiteral("https://sep.example/title"), QStringLiteral("Field\u0001separator")},
    {QStringLiteral("https://big.example/"), QString(1 << 19, u'\u00e9')},
    {QStringLiteral("https://long.example/") + QString(100000, u'a'), QString()},
};

// Tabs whose archive line would not read back as the tab: no sweep may take them.
const QList<Tab> tabsThatMustStayOpen{
    {QStringLiteral("https://feed.example/\n- [fake](https://fake.example/) · 09:00"), QStringLiteral("Line feed")},
    {QStringLiteral("https://example.com/a)b"), QStringLiteral("Unmatched closing parenthesis")},
    {QStringLiteral("https://example.com/x)(y"), QStringLiteral("Parentheses the wrong way round")},
};

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Standin::reset();
        QDir(QDir::homePath() + QStringLiteral("/Documents")).removeRecursively();
        QFile::remove(DrowsewickModel::trackerPath());
    }

    // The archive reads back exactly the tabs that were closed, and each close took its own tab;
    // the others count as protected: not idle, no message, left out of a saved snapshot too.
    void textsThatTryToBreakOutAreArchivedWholeAndClosedAlone()
    {
        Standin::setWindows({Window{1, 1, QList<Tab>{{current, QStringLiteral("Current")}} + tabsThatTryToBreakOut + tabsThatMustStayOpen}});
        ModelHarness h;
        h.pollAgainAfter(8);
        QCOMPARE(h.unarchivedCloses, QStringList());
        QList<ArchivedTab> expected;
        for (const Tab &tab : tabsThatTryToBreakOut)
            expected.append(entryFor(tab));
        QCOMPARE(archived(*h.model), expected);
        QCOMPARE(Standin::openUrls(), QStringList{current} + urlsOf(tabsThatMustStayOpen));
        QCOMPARE(h.model->staleCount(), 0);
        QVERIFY2(h.model->lastSweepSummary().startsWith(QStringLiteral("Swept 8 tabs · ")), qPrintable(h.model->lastSweepSummary()));

        h.model->sweepNow();
        QCOMPARE(h.model->lastSweepSummary(), QStringLiteral("Nothing idle to sweep."));
        QDir(h.model->settings().archiveFolder()).removeRecursively();
        h.model->saveAllOpenTabs();
        QCOMPARE(archived(*h.model), QList<ArchivedTab>{(ArchivedTab{QStringLiteral("Current"), current})});
    }
};

DROWSEWICK_TEST_MAIN(TestHostileInput, QCoreApplication)
#include "tst_HostileInput.moc"
