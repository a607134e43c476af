#include "ArchiveSearch.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

// What a search must find, spelled out the slow way: the title, or else the address, holds the
// query once both are lower-cased.
std::vector<int> expectedRows(const QList<ArchivedTab> &tabs, const QString &lowerQuery)
{
    std::vector<int> rows;
    for (qsizetype row = 0; row < tabs.size(); ++row) {
        if (tabs[row].title.toLower().contains(lowerQuery) || tabs[row].url.toLower().contains(lowerQuery))
            rows.push_back(int(row));
    }
    return rows;
}

// The entries as the archive window holds them: written into an archive file and read back.
ArchivedTabs stored(const QList<ArchivedTab> &tabs)
{
    QByteArray lines;
    for (const ArchivedTab &tab : tabs)
        lines += "- [" + tab.title.toUtf8() + "](" + tab.url.toUtf8() + ")\n";
    const QTemporaryDir folder;
    TestFiles::write(folder.filePath(u"archive.md"_qs), lines);
    return Archive::read(folder.path());
}

std::vector<int> found(ArchiveSearch &search, const QList<ArchivedTab> &tabs, const QString &lowerQuery)
{
    std::vector<int> rows;
    search.find(stored(tabs), lowerQuery, rows);
    return rows;
}

// Pieces of titles and addresses that lower-case in every way there is: not at all (also the
// signs on either side of A-Z and a-z), only in A-Z, in a letter beyond ASCII, into two
// characters (İ), from a sign into an ASCII letter (the Kelvin sign into k), and beyond the
// basic plane (Deseret).
const QStringList pieces = {
    QStringLiteral("Guide"),  QStringLiteral("news"),     QStringLiteral("ÄRGER"),  QStringLiteral("straße"),
    QStringLiteral("\u212A"), QStringLiteral("\u0130x"),  QStringLiteral("東京"),   QStringLiteral("Σ"),
    QStringLiteral("—"),      QStringLiteral("\U00010400"), QStringLiteral(" "),    QStringLiteral("example.org/"),
    QStringLiteral("@"),      QStringLiteral("`"),        QStringLiteral("É"),      QStringLiteral("zz"),
    QStringLiteral("["),      QStringLiteral("{"),
};

QString randomText(QRandomGenerator &random)
{
    QString text;
    for (int n = random.bounded(6); n >= 0; --n)
        text += pieces[random.bounded(int(pieces.size()))];
    return text;
}

} // namespace

class ArchiveSearchTest : public QObject
{
    Q_OBJECT

private slots:
    // Thousands of entries, so that every core takes several slices; the rows come back in
    // archive order, whether the search makes the copies, reads them, or they were forgotten
    // because the entries changed.
    void manyEntriesMatchTheSlowWay()
    {
        QRandomGenerator random(20261206);
        const QStringList queries
                = {QStringLiteral("ä"),        QStringLiteral("k"),       QStringLiteral("guide news"),
                   QStringLiteral("σ"),        QStringLiteral("e.org/g"), QString(QStringLiteral("\U00010400")).toLower(),
                   QStringLiteral("i\u0307x"), QStringLiteral("`"), QStringLiteral("{"),
                   QStringLiteral("z{")};

        ArchiveSearch search;
        QVERIFY(found(search, {}, QStringLiteral("a")).empty());
        for (int entriesChanged = 0; entriesChanged < 2; ++entriesChanged) {
            QList<ArchivedTab> tabs;
            for (int i = 0; i < 5000; ++i)
                tabs.append({randomText(random), randomText(random)});
            search.forget();
            for (const QString &query : queries) {
                const std::vector<int> expected = expectedRows(tabs, query);
                QVERIFY2(!expected.empty(), qPrintable(query));
                QCOMPARE(found(search, tabs, query), expected);
            }
        }
    }
};

DROWSEWICK_TEST_MAIN(ArchiveSearchTest, QCoreApplication)
#include "tst_ArchiveSearch.moc"
