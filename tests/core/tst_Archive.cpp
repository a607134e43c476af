#include "Archive.h"
#include "DurableFile.h"
#include "FileSizeLimit.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDir>

#include <ctime>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::literals;

namespace {

// 09:05:12 UTC; tests run in UTC unless they set another zone.
const QDateTime morning(QDate(2026, 3, 14), QTime(9, 5, 12), Qt::UTC);

QList<SafariTab> tabs(std::initializer_list<std::pair<const char *, const char *>> urlsAndTitles)
{
    QList<SafariTab> list;
    for (const auto &[url, title] : urlsAndTitles)
        list.append(SafariTab(1, QString::fromUtf8(url), QString::fromUtf8(title)));
    return list;
}

void setTimeZone(const char *zone)
{
    qputenv("TZ", zone);
    tzset();
}

QStringList titles(const QList<ArchivedTab> &entries)
{
    QStringList list;
    for (const ArchivedTab &entry : entries)
        list.append(entry.title);
    return list;
}

} // namespace

class TestArchive : public QObject
{
    Q_OBJECT

    const QString m_folder = QDir::homePath() + u"/Archive"_qs;
    const QString m_dayFile = m_folder + u"/2026-03-14.md"_qs;

private slots:
    void init()
    {
        setTimeZone("UTC");
        QDir(m_folder).removeRecursively();
        QFile::remove(m_folder);
    }

    // Sweeps of a day share its file and heading; a file already there gets no heading and a torn
    // last line is ended first. Titles are cleaned, addresses kept whole.
    void sweepsAppendToTheDaysFile_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const QByteArray lines
                = "- [A (b)](https://a.example/(x)) · 09:05\n- [https://b.example/?q=(1)](https://b.example/?q=[1]) · 09:05\n"
                  "- [two lines\rand cr](u) · 09:05\n- [C](https://c.example/) · 10:05\n";
        QTest::newRow("new file") << QByteArray("<none>") << "# Swept tabs — 2026-03-14\n\n" + lines;
        QTest::newRow("empty file") << QByteArray() << lines;
        QTest::newRow("torn line") << QByteArray("- [Half](htt") << "- [Half](htt\n" + lines;
    }
    void sweepsAppendToTheDaysFile()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        if (before != "<none>")
            TestFiles::write(m_dayFile, before);
        Archive::append({}, m_folder, morning);
        QCOMPARE(QFileInfo::exists(m_folder), before != "<none>");
        Archive::append(tabs({{"https://a.example/(x)", "A [b]"}, {"https://b.example/?q=[1]", ""}, {"u", "two\nlines\rand cr"}}),
                        m_folder, morning);
        Archive::append(tabs({{"https://c.example/", "C"}}), m_folder, morning.addSecs(3600));
        QCOMPARE(TestFiles::read(m_dayFile), after);
        QCOMPARE(titles(Archive::all(m_folder)).first(2), (QStringList{"A (b)", "https://b.example/?q=(1)"}));
    }

    // 23:30 UTC on the 14th is 08:30 on the 15th nine hours east.
    void theDayFollowsTheLocalTimeZone()
    {
        setTimeZone("JST-9");
        Archive::append(tabs({{"u", "A"}}), m_folder, QDateTime(QDate(2026, 3, 14), QTime(23, 30), Qt::UTC));
        QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList{"2026-03-15.md"});
        QVERIFY(TestFiles::read(m_folder + u"/2026-03-15.md"_qs).endsWith("- [A](u) · 08:30\n"));
    }

    // A link under the next name is not followed: the snapshot takes the name after it.
    void snapshotsNeverOverwriteEachOther()
    {
        const QString a = Archive::saveSnapshot(tabs({{"https://first.example/", "First"}}), m_folder, morning);
        QVERIFY(QFile::link(QDir::homePath() + u"/elsewhere"_qs, m_folder + u"/all-tabs-2026-03-14-090512_2.md"_qs));
        const QString b = Archive::saveSnapshot(tabs({{"https://second.example/", "Second"}}), m_folder, morning.addMSecs(300));
        QCOMPARE(a, m_folder + u"/all-tabs-2026-03-14-090512.md"_qs);
        QCOMPARE(b, m_folder + u"/all-tabs-2026-03-14-090512_3.md"_qs);
        QVERIFY(!QFileInfo::exists(QDir::homePath() + u"/elsewhere"_qs));
        QCOMPARE(TestFiles::read(a), QByteArray("# All open tabs — 2026-03-14 09:05\n\n- [First](https://first.example/)\n"));
        QCOMPARE(titles(Archive::all(m_folder)), (QStringList{"Second", "First"}));
    }

    // Snapshots first, then days newest first. A torn or foreign line costs only itself. Anything
    // but a regular ".md" file of a sensible size is passed over without blocking (a pipe),
    // reading without end (a device) or reading whole.
    void readsFilesNewestFirstAndSkipsWhatItCannotRead()
    {
        QDir().mkpath(m_folder + u"/x.md"_qs);
        TestFiles::write(m_folder + u"/2026-03-13.md"_qs, "# Swept tabs — 2026-03-13\n\n- [13](u13) · 08:00\n");
        TestFiles::write(m_folder + u"/2026-03-14.md"_qs, "- [14a](u14a) · 08:00\n- [14b](u14b) · 09:00\n");
        TestFiles::write(m_folder + u"/all-tabs-2026-03-12-080000.md"_qs, "- [snap](usnap)\n");
        TestFiles::write(m_folder + u"/2026-03-15.MD"_qs, "- [upper](u)\n");
        TestFiles::write(m_folder + u"/2026-03-16.md"_qs,
                         "- [16a](u) · 1\n- [Caf\xc3\n- [Caf\xe9 Latin-1](u) · 1\n- [16b](u) · 1\n");
        TestFiles::write(m_folder + u"/notes.txt"_qs, "- [txt](u)\n");
        TestFiles::write(m_folder + u"/2026-03-17.md.bak"_qs, "- [backup](u)\n");
        TestFiles::write(m_folder + u"/.hidden.md"_qs, "- [hidden](uh)\n");
        TestFiles::write(m_folder + u"/huge.md"_qs, "- [huge](u)\n");
        QVERIFY(QFile::resize(m_folder + u"/huge.md"_qs, qint64(257) << 20));
        QCOMPARE(::mkfifo(QFile::encodeName(m_folder + u"/notes.md"_qs).constData(), 0600), 0);
        QVERIFY(QFile::link(u"/dev/zero"_qs, m_folder + u"/z.md"_qs));
        ::alarm(20); // a read that blocks ends the test
        QCOMPARE(titles(Archive::all(m_folder)), (QStringList{"snap", "16a", "16b", "14a", "14b", "13", "hidden"}));
        ::alarm(0);
    }

    // An empty title means none; an address ends at the ")" that balances its "(".
    void readLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("titleAndUrl");
        QTest::newRow("swept") << "- [T](https://u.example/) · 09:05" << QStringList{"T", "https://u.example/"};
        QTest::newRow("snapshot with cr") << "- [T](u)\r" << QStringList{"T", "u"};
        QTest::newRow("empty address") << "- [x]()" << QStringList{"x", ""};
        QTest::newRow("nested parentheses") << "- [M](a(b(c))d) · 1" << QStringList{"M", "a(b(c))d"};
        QTest::newRow("unbalanced opening: the first close") << "- [M](a(b) · 1" << QStringList{"M", "a(b"};
        QTest::newRow("close inside the address") << "- [M](a)b) · 1" << QStringList{"M", "a"};
        QTest::newRow("the first ]( ends the title") << "- [a](b](c)" << QStringList{"a", "b](c"};
    }
    void readLine()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, titleAndUrl);
        const std::optional<ArchivedTab> entry = Archive::readLine(line);
        QCOMPARE(entry ? (QStringList{entry->title, entry->url}) : QStringList(), titleAndUrl);
    }

    // A full disk, or a file where the folder should be, leaves everything as it was.
    void aFailedWriteLeavesTheFolderAsItWas()
    {
        QList<SafariTab> many;
        for (int i = 0; i < 200; ++i)
            many.append(SafariTab(1, u"https://many.example/%1"_qs.arg(i), u"Many %1"_qs.arg(i)));
        {
            const FileSizeLimit full(100);
            QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::append(many, m_folder, morning));
            QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::saveSnapshot(many, m_folder, morning));
        }
        QVERIFY(QDir(m_folder).entryList(QDir::Files).isEmpty());
        Archive::append(tabs({{"https://kept.example/", "Kept"}}), m_folder, morning);
        const QByteArray before = TestFiles::read(m_dayFile);
        {
            const FileSizeLimit full(rlim_t(before.size()) + 100);
            QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::append(many, m_folder, morning));
        }
        QCOMPARE(TestFiles::read(m_dayFile), before);
        QVERIFY(QDir(m_folder).removeRecursively());
        TestFiles::write(m_folder, "not a folder");
        QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::append(many, m_folder + u"/sub"_qs, morning));
        QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::saveSnapshot(many, m_folder, morning));
        QCOMPARE(TestFiles::read(m_folder), QByteArray("not a folder"));
    }

    // Another program may put anything under the day's name: only a regular file there is
    // written to, never what a link leads to, and never a pipe.
    void appendsOnlyToARegularFile()
    {
        const QString target = QDir::homePath() + u"/.bashrc"_qs;
        TestFiles::write(target, "# mine\n");
        for (const char *kind : {"link", "pipe", "folder"}) {
            init();
            QDir().mkpath(kind == "folder"sv ? m_dayFile : m_folder);
            if (kind == "link"sv)
                QVERIFY(QFile::link(target, m_dayFile));
            else if (kind == "pipe"sv)
                QCOMPARE(::mkfifo(QFile::encodeName(m_dayFile).constData(), 0600), 0);
            ::alarm(20);
            QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::append(tabs({{"u", "$(touch /tmp/pwned) #"}}), m_folder, morning));
            ::alarm(0);
            QCOMPARE(TestFiles::read(target), QByteArray("# mine\n"));
        }
    }
};

DROWSEWICK_TEST_MAIN(TestArchive, QCoreApplication)
#include "tst_Archive.moc"
