#include "Archive.h"
#include "DurableFile.h"
#include "FileSizeLimit.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 09:05:12 UTC; tests run in UTC unless they set another zone.
const QDateTime morning(QDate(2026, 3, 14), QTime(9, 5, 12), Qt::UTC);

SafariTab tab(const QString &url, const QString &title)
{
    return SafariTab(1, url, title);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

void setTimeZone(const char *zone)
{
    qputenv("TZ", zone);
    tzset();
}

} // namespace

class TestArchive : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString folder() const { return m_root.path() + QStringLiteral("/Archive"); }
    QString dayFile() const { return folder() + QStringLiteral("/2026-03-14.md"); }

private slots:
    void init()
    {
        setTimeZone("UTC");
        QDir(folder()).removeRecursively();
        QFile::remove(folder());
    }

    void appendingNothingTouchesNothingAndNoFolderReadsAsEmpty()
    {
        Archive::append({}, folder(), morning);
        QVERIFY(!QFileInfo::exists(folder()));
        QVERIFY(Archive::all(folder()).isEmpty());
    }

    void sweepsOfOneDayShareOneFileAndHeading()
    {
        Archive::append({tab("https://a.example/", "A"), tab("https://b.example/", "")}, folder(), morning);
        Archive::append({tab("https://c.example/", "C")}, folder(), morning.addSecs(3600));
        QCOMPARE(readAll(dayFile()),
                 QByteArray("# Swept tabs — 2026-03-14\n\n"
                            "- [A](https://a.example/) · 09:05\n"
                            "- [https://b.example/](https://b.example/) · 09:05\n"
                            "- [C](https://c.example/) · 10:05\n"));
    }

    void anExistingFileGetsNoHeadingAndATornTailIsEnded_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("empty file") << QByteArray() << QByteArray("- [A](u) · 09:05\n");
        QTest::newRow("whole line") << QByteArray("x\n") << QByteArray("x\n- [A](u) · 09:05\n");
        QTest::newRow("torn line") << QByteArray("- [Half](htt") << QByteArray("- [Half](htt\n- [A](u) · 09:05\n");
    }
    void anExistingFileGetsNoHeadingAndATornTailIsEnded()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QDir().mkpath(folder());
        writeFile(dayFile(), before);
        Archive::append({tab("u", "A")}, folder(), morning);
        QCOMPARE(readAll(dayFile()), after);
    }

    void theDayFollowsTheLocalTimeZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("line");
        // 23:30 UTC on the 14th is 08:30 on the 15th nine hours east and 18:30 on the 14th five hours west.
        QTest::newRow("east") << QByteArray("JST-9") << "2026-03-15.md" << QByteArray("- [A](u) · 08:30\n");
        QTest::newRow("west") << QByteArray("EST5") << "2026-03-14.md" << QByteArray("- [A](u) · 18:30\n");
    }
    void theDayFollowsTheLocalTimeZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, fileName);
        QFETCH(QByteArray, line);
        setTimeZone(zone.constData());
        Archive::append({tab("u", "A")}, folder(), QDateTime(QDate(2026, 3, 14), QTime(23, 30), Qt::UTC));
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{fileName});
        QVERIFY(readAll(folder() + u'/' + fileName).endsWith(line));
    }

    void titlesAreCleanedAndAddressesKeptWhole()
    {
        const QList<SafariTab> tabs{
            tab("https://en.wikipedia.org/wiki/Mercury_(planet)", "a [b] c"),
            tab("https://x.example/?q=[1]", ""),
            tab("https://y.example/", "two\nlines\rand cr"),
        };
        Archive::append(tabs, folder(), morning);
        QVERIFY(readAll(dayFile()).contains("- [two lines\rand cr](https://y.example/) · 09:05\n"));
        const QList<ArchivedTab> expected{
            {QStringLiteral("a (b) c"), QStringLiteral("https://en.wikipedia.org/wiki/Mercury_(planet)")},
            {QStringLiteral("https://x.example/?q=(1)"), QStringLiteral("https://x.example/?q=[1]")},
            {QStringLiteral("two lines\rand cr"), QStringLiteral("https://y.example/")},
        };
        QCOMPARE(Archive::all(folder()), expected);
    }

    void snapshotsNeverOverwriteEachOther()
    {
        const QList<SafariTab> first{tab("https://first.example/", "First")};
        const QList<SafariTab> second{tab("https://second.example/", "Second")};
        const QString a = Archive::saveSnapshot(first, folder(), morning);
        // A link under the next name is not followed: the snapshot takes the name after it.
        QVERIFY(QFile::link(m_root.path() + QStringLiteral("/elsewhere"), folder() + QStringLiteral("/all-tabs-2026-03-14-090512_2.md")));
        const QString b = Archive::saveSnapshot(second, folder(), morning.addMSecs(300));
        QCOMPARE(QFileInfo(a).fileName(), QStringLiteral("all-tabs-2026-03-14-090512.md"));
        QCOMPARE(QFileInfo(b).fileName(), QStringLiteral("all-tabs-2026-03-14-090512_3.md"));
        QVERIFY(!QFileInfo::exists(m_root.path() + QStringLiteral("/elsewhere")));
        QCOMPARE(QFileInfo(a).path(), folder());
        QCOMPARE(readAll(a), QByteArray("# All open tabs — 2026-03-14 09:05\n\n- [First](https://first.example/)\n"));
        const QList<ArchivedTab> expected{{QStringLiteral("Second"), QStringLiteral("https://second.example/")},
                                          {QStringLiteral("First"), QStringLiteral("https://first.example/")}};
        QCOMPARE(Archive::all(folder()), expected);
    }

    // A torn or foreign line costs only itself. Anything but a regular file of a sensible size
    // is passed over without blocking (a pipe), reading without end (a device) or reading whole.
    void readsFilesNewestFirstAndSkipsWhatItCannotRead()
    {
        QDir().mkpath(folder() + QStringLiteral("/x.md"));
        writeFile(folder() + QStringLiteral("/2026-03-13.md"), "# Swept tabs — 2026-03-13\n\n- [13](u13) · 08:00\n");
        writeFile(folder() + QStringLiteral("/2026-03-14.md"), "- [14a](u14a) · 08:00\n- [14b](u14b) · 09:00\n");
        writeFile(folder() + QStringLiteral("/all-tabs-2026-03-12-080000.md"), "- [snap](usnap)\n");
        writeFile(folder() + QStringLiteral("/2026-03-15.MD"), "- [upper](u)\n");
        writeFile(folder() + QStringLiteral("/2026-03-16.md"), "- [16a](u) · 1\n- [Caf\xc3\n- [Caf\xe9 Latin-1](u) · 1\n- [16b](u) · 1\n");
        writeFile(folder() + QStringLiteral("/notes.txt"), "- [txt](u)\n");
        writeFile(folder() + QStringLiteral("/.hidden.md"), "- [hidden](uh)\n");
        writeFile(folder() + QStringLiteral("/huge.md"), "- [huge](u)\n");
        QVERIFY(QFile::resize(folder() + QStringLiteral("/huge.md"), qint64(257) << 20));
        QCOMPARE(::mkfifo(QFile::encodeName(folder() + QStringLiteral("/notes.md")).constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), folder() + QStringLiteral("/z.md")));
        ::alarm(20); // a read that blocks ends the test
        QStringList titles;
        for (const ArchivedTab &entry : Archive::all(folder()))
            titles.append(entry.title);
        ::alarm(0);
        QCOMPARE(titles, (QStringList{"snap", "16a", "16b", "14a", "14b", "13", "hidden"}));
    }

    void readLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("isEntry");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("url");
        QTest::newRow("swept line") << "- [T](https://u.example/) · 09:05" << true << "T" << "https://u.example/";
        QTest::newRow("snapshot line with cr") << "- [T](u)\r" << true << "T" << "u";
        QTest::newRow("empty address") << "- [x]()" << true << "x" << "";
        QTest::newRow("balanced parentheses") << "- [M](https://w.example/Mercury_(planet)) · 09:05" << true << "M"
                                              << "https://w.example/Mercury_(planet)";
        QTest::newRow("nested parentheses") << "- [M](a(b(c))d) · 1" << true << "M" << "a(b(c))d";
        QTest::newRow("unbalanced opening falls back to the first close") << "- [M](a(b) · 1" << true << "M" << "a(b";
        QTest::newRow("close inside address") << "- [M](a)b) · 1" << true << "M" << "a";
        QTest::newRow("first ]( closes the title") << "- [a](b](c)" << true << "a" << "b](c";
        QTest::newRow("heading") << "# Swept tabs — 2026-03-14" << false << "" << "";
        QTest::newRow("blank") << "" << false << "" << "";
        QTest::newRow("no ](") << "- [T] (u)" << false << "" << "";
        QTest::newRow("no ) after ](") << "- [T](u" << false << "" << "";
        QTest::newRow("nothing after ](") << "- [T](" << false << "" << "";
        QTest::newRow("indented") << " - [T](u)" << false << "" << "";
    }
    void readLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, isEntry);
        QFETCH(QString, title);
        QFETCH(QString, url);
        const std::optional<ArchivedTab> entry = Archive::readLine(line);
        QCOMPARE(entry.has_value(), isEntry);
        if (entry) {
            QCOMPARE(entry->title, title);
            QCOMPARE(entry->url, url);
        }
    }

    void aFailedWriteLeavesTheFolderAsItWas()
    {
        QList<SafariTab> many;
        for (int i = 0; i < 200; ++i)
            many.append(tab(QStringLiteral("https://many.example/%1").arg(i), QStringLiteral("Many %1").arg(i)));
        {
            const FileSizeLimit full(100);
            QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::append(many, folder(), morning));
            QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::saveSnapshot(many, folder(), morning));
        }
        QVERIFY(QDir(folder()).entryList(QDir::Files).isEmpty());
        Archive::append({tab("https://kept.example/", "Kept")}, folder(), morning);
        const QByteArray before = readAll(dayFile());
        {
            const FileSizeLimit full(rlim_t(before.size()) + 100);
            QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::append(many, folder(), morning));
        }
        QCOMPARE(readAll(dayFile()), before);
    }

    void aFileWhereTheFolderShouldBeIsAnError()
    {
        writeFile(folder(), "not a folder");
        QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::append({tab("u", "t")}, folder() + QStringLiteral("/sub"), morning));
        QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::append({tab("u", "t")}, folder(), morning));
        QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::saveSnapshot({tab("u", "t")}, folder(), morning));
        QCOMPARE(readAll(folder()), QByteArray("not a folder"));
    }

    // Another program may put anything under the day's name: only a regular file there is
    // written to, never what a link leads to, and never a pipe.
    void appendsOnlyToARegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link to a file") << "link";
        QTest::newRow("pipe") << "pipe";
        QTest::newRow("folder") << "folder";
    }
    void appendsOnlyToARegularFile()
    {
        QFETCH(QString, kind);
        QDir().mkpath(folder());
        const QString target = m_root.path() + QStringLiteral("/.bashrc");
        writeFile(target, "# mine\n");
        if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(target, dayFile()));
        else if (kind == QLatin1String("pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(dayFile()).constData(), 0600), 0);
        else
            QVERIFY(QDir().mkpath(dayFile()));
        ::alarm(20);
        QVERIFY_THROWS_EXCEPTION(FileSystemError, Archive::append({tab("u", "$(touch /tmp/pwned) #")}, folder(), morning));
        ::alarm(0);
        QCOMPARE(readAll(target), QByteArray("# mine\n"));
    }
};

DROWSEWICK_TEST_MAIN(TestArchive, QCoreApplication)
#include "tst_Archive.moc"
