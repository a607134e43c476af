#include "Bundles.h"
#include "LocalHttpsServer.h"
#include "SelfUpdater.h"
#include "platform/UpdatePlatform.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

// How an installation ended: "installed", the name of an UpdateError, or "platform: " and the message.
static QString outcomeOf(QFuture<void> installation)
{
    if (!QTest::qWaitFor([&] { return installation.isFinished(); }, 30000)) // while the server in this thread answers
        return u"still running"_qs;
    try {
        installation.waitForFinished();
        return u"installed"_qs;
    } catch (const SelfUpdater::Failure &failure) {
        return QStringList{"download", "unpack", "notFound", "badSignature", "readOnlyLocation"}.value(int(failure.error()));
    } catch (const SelfUpdater::PlatformFailure &failure) {
        return u"platform: "_qs + failure.message();
    }
}

static void chmod(const QString &path, mode_t mode) { ::chmod(QFile::encodeName(path).constData(), mode); }

using Change = std::function<void(class TestSelfUpdater &)>;

// The installer from the running app's location to the swap script, against a local HTTPS
// server, and the swap script itself, run for real.
class TestSelfUpdater : public QObject
{
    Q_OBJECT

public:
    LocalHttpsServer m_server;
    QTemporaryDir m_keys;
    Bundles::Publisher m_publisher = Bundles::makePublisher(m_keys.path(), u"publisher"_qs);
    std::unique_ptr<QTemporaryDir> m_root;
    SelfUpdater::Environment m_environment;
    // What the server answers: the staged bundle unless archive is set, at once unless slowly.
    struct { int status = 200; QByteArray archive; int bytesPerTick = 0; } m_answer;

    QString root(const QString &relative) const { return m_root->filePath(relative); }
    QString staged() const { return root(u"staging/Drowsewick.app"_qs); }
    QString installed() const { return m_environment.bundlePath; }
    QString workFolder() const { return m_environment.workRoot + u"/nimbrel-update-%1"_qs.arg(m_environment.pid); }
    void resign(const QString &bundle = {}) { Bundles::sign(m_publisher, bundle.isEmpty() ? staged() : bundle); }
    void stage(const QString &bundle, const QByteArray &label = "new", const QByteArray &version = "2.0")
    {
        Bundles::make(bundle, label, root(u"started"_qs), version);
        resign(bundle);
    }
    QFuture<void> serve()
    {
        const QString path = u"/%1.zip"_qs.arg(m_server.requestCount());
        m_server.answer(path, m_answer.status, m_answer.archive.isNull() ? Bundles::zip(root(u"staging"_qs)) : m_answer.archive,
                        {}, m_answer.bytesPerTick);
        return SelfUpdater::install(UpdateInfo{u"2.0"_qs, m_server.url(path), {}}, m_environment);
    }

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_environment = {.bundlePath = root(u"Applications/Drowsewick.app"_qs),
                         .privateRoot = root(u"cache"_qs),
                         .workRoot = root(u"cache/com.nimbrel.drowsewick/update"_qs),
                         .publisher = m_publisher.trusted,
                         .pid = 999'999'999, // no system hands out such a process id: it never runs
                         .limits = {.unpackedBytes = 64 * 1024}};
        Bundles::make(installed(), "old", root(u"started"_qs));
        m_answer = {};
        stage(staged());
    }

    // As here, in the build: then it is not replaced.
    void theAppOutsideABundleHasNone() { QVERIFY(SelfUpdater::Environment::current().bundlePath.isEmpty()); }

    // Each row changes one thing: the installed bundle stays as it is, nothing is written outside
    // the work folder, which goes too, and a place it cannot use is refused before the server is
    // asked anything.
    void refusals_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("answered 404") << Change([](auto &t) { t.m_answer.status = 404; }) << "download";
        QTest::newRow("no zip") << Change([](auto &t) { t.m_answer.archive = "<html>Not a zip</html>"; }) << "unpack";
        QTest::newRow("bundle only in a subfolder, or its extension in capitals") << Change([](auto &t) {
            QDir().rename(t.staged(), t.root(u"staging/Drowsewick.APP"_qs));
            t.stage(t.root(u"staging/Release/Drowsewick.app"_qs));
        }) << "notFound";
        QTest::newRow("signed by another") << Change([](auto &t) {
            Bundles::sign(Bundles::makePublisher(t.m_keys.path(), u"stranger"_qs), t.staged());
        }) << "badSignature";
        QTest::newRow("older release served as new")
                << Change([](auto &t) { t.stage(t.staged(), "older", "1.5"); }) << "badSignature";
        QTest::newRow("executable that fails") << Change([](auto &t) {
            TestFiles::write(UpdatePlatform::executable(t.staged()), "#!/bin/sh\necho 2.0\nexit 1\n", true);
            t.resign();
        }) << "badSignature";
        QTest::newRow("executable that does not answer in time") << Change([](auto &t) {
            TestFiles::write(UpdatePlatform::executable(t.staged()), "#!/bin/sh\nexec sleep 30\n", true);
            t.resign();
            t.m_environment.limits.versionCheck = 300ms;
        }) << "badSignature";
        QTest::newRow("download past its size")
                << Change([](auto &t) { t.m_environment.limits.downloadBytes = 512; }) << "download";
        // Every file of the bundle fits, but not all of them.
        QTest::newRow("listing past the unpacked size") << Change([](auto &t) {
            TestFiles::write(t.staged() + u"/resources/part"_qs, QByteArray(400, 'x'));
            t.resign();
            t.m_environment.limits.unpackedBytes = 512;
        }) << "unpack";
        QTest::newRow("a file past it, the listing understating it") << Change([](auto &t) { // its 200,000 bytes told as 1,000
            TestFiles::write(t.staged() + u"/resources/large"_qs, QByteArray(200'000, 'x'));
            t.resign();
            t.m_answer.archive = Bundles::zip(t.root(u"staging"_qs))
                                         .replace(QByteArray::fromHex("400d0300"), QByteArray::fromHex("e8030000"));
        }) << "unpack";
        QTest::newRow("download that stalls") << Change([](auto &t) {
            t.m_answer.bytesPerTick = 50;
            t.m_environment.limits.stallWindow = 500ms;
            t.m_environment.limits.stallBytes = 4096;
        }) << "platform: the download stalled";
        QTest::newRow("installation past its deadline") << Change([](auto &t) {
            t.m_answer.bytesPerTick = 50;
            t.m_environment.limits.deadline = 500ms;
        }) << "platform: the installation took too long";
        QTest::newRow("cache folder writable by all") << Change([](auto &t) {
            QDir().mkpath(t.m_environment.workRoot);
            chmod(t.root(u"cache"_qs), 0777);
        }) << "platform: @/cache is not a folder of this user alone";
        QTest::newRow("translocated") << Change([](auto &t) {
            Bundles::make(t.m_environment.bundlePath = t.root(u"AppTranslocation/0F1E/d/Drowsewick.app"_qs), "old", {});
        }) << "readOnlyLocation";
        QTest::newRow("not in a bundle") << Change([](auto &t) { t.m_environment.bundlePath.clear(); }) << "readOnlyLocation";
        if (macOSFlavour())
            return; // what ditto unpacks is Apple's to decide; the rows below are the Linux unpacking's own checks
        // Beside the bundle an entry zip itself will not write, made by renaming one of the same
        // length in the archive's bytes ("@": the folder outside, without its leading "/"), or a
        // link leading out.
        const auto leadingOut = [](QByteArray written, QByteArray renamedTo) {
            return Change([=](auto &t) mutable {
                const QByteArray outside = QFile::encodeName(t.root(u"outside"_qs)).mid(1);
                TestFiles::write(t.root(u"staging/"_qs) + QFile::decodeName(written.replace('@', outside)), "out");
                t.m_answer.archive = Bundles::zip(t.root(u"staging"_qs)).replace(written, renamedTo.replace('@', outside));
            });
        };
        QTest::newRow("entry in the parent folder") << leadingOut("zz/escaped", "../escaped") << "unpack";
        QTest::newRow("entry with an absolute name") << leadingOut("z@/escaped", "/@/escaped") << "unpack";
        QTest::newRow("entry with a backslash") << leadingOut("zz_escaped", "..\\escaped") << "unpack";
        QTest::newRow("symbolic link leading out")
                << Change([](auto &t) { QFile::link(t.root(u"outside"_qs), t.staged() + u"/link"_qs); }) << "unpack";
    }
    void refusals()
    {
        QFETCH(Change, change);
        QFETCH(QString, outcome);
        const QMap<QString, QByteArray> before = TestFiles::contents(root(u"Applications"_qs));
        change(*this);
        const int requests = m_server.requestCount();
        QCOMPARE(outcomeOf(serve()), QString(outcome).replace(u'@', m_root->path()));
        QCOMPARE(TestFiles::contents(root(u"Applications"_qs)), before);
        QVERIFY(TestFiles::contents(root(u"outside"_qs)).isEmpty() && !QFileInfo::exists(workFolder())
                && !QFileInfo::exists(workFolder() + u".sh"_qs));
        QCOMPARE(m_server.requestCount() == requests, outcome == u"readOnlyLocation"_qs || outcome.contains(u"user alone"_qs));
    }

    // The first bundle listed goes in, with modes of its own: readable by all, written by its
    // owner, executable as signed; a backup in the way goes first, though no one may write to it.
    // The swap waits for the app, in a session of its own, and starts the new bundle, or, when a
    // step of it fails (through a tool of that name first on PATH; the copy is cp, also inside
    // ditto's stand-in), the old one, back whole. The next start clears what an ended run left,
    // never what a running one has.
    void swapsInTheFirstListedBundleOrBringsBackTheOld_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QByteArray>("behaviour");
        QTest::newRow("nothing fails") << "unused" << QByteArray();
        QTest::newRow("old backup cannot be removed") << "rm" << QByteArray("exit 1");
        QTest::newRow("installed bundle cannot be renamed") << "mv" << QByteArray("exit 1");
        QTest::newRow("copy fails halfway")
                << "cp" << QByteArray("for last; do :; done\nmkdir -p \"$last\" && echo part > \"$last/part\"\nexit 1");
    }
    void swapsInTheFirstListedBundleOrBringsBackTheOld()
    {
        QFETCH(QString, tool);
        QFETCH(QByteArray, behaviour);
        const QString beta = root(u"staging/Beta.app"_qs), backup = installed() + u".bak"_qs;
        Bundles::make(beta, "beta", root(u"started"_qs));
        chmod(beta + u"/resources"_qs, 0775);
        chmod(beta + u"/resources/notes.txt"_qs, 0600);
        resign(beta);
        TestFiles::write(backup + u"/resources/notes.txt"_qs, "older");
        chmod(backup + u"/resources"_qs, 0555);
        TestFiles::write(root(u"tools/"_qs) + tool, "#!/bin/sh\n" + behaviour + "\n", true);
        const QByteArray path = qgetenv("PATH"); // the swap script inherits it
        qputenv("PATH", QFile::encodeName(root(u"tools"_qs)) + ':' + path);
        QProcess app;
        app.start(u"sleep"_qs, {u"30"_qs});
        QVERIFY(app.waitForStarted());
        m_environment.pid = app.processId();
        const QMap<QString, QByteArray> before = TestFiles::contents(installed());
        QCOMPARE(outcomeOf(serve()), u"installed"_qs);
        qputenv("PATH", path);
        QVERIFY(!QFileInfo::exists(backup));
        QTest::qWait(300); // the swap script looks every 200 ms
        QCOMPARE(TestFiles::contents(installed()), before);
        const pid_t swap = runTool(u"pgrep"_qs, {u"-of"_qs, workFolder() + u".sh"_qs}).output.trimmed().toInt();
        QVERIFY2(swap > 0 && ::getsid(swap) != ::getsid(0), "the swap script does not run in a session of its own");
        app.kill();
        app.waitForFinished();

        const QDir unpacked(workFolder() + u"/unpacked"_qs);
        const QString first
                = unpacked.filePath(unpacked.entryList({u"*.app"_qs}, QDir::Dirs | QDir::CaseSensitive, QDir::Unsorted).value(0));
        const bool fails = !behaviour.isEmpty();
        const QByteArray started = fails ? "old" : first.endsWith(u"Beta.app"_qs) ? "beta" : "new";
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(root(u"started"_qs)), Bundles::startedAs(started, installed()), 10000);
        QCOMPARE(TestFiles::contents(installed()), fails ? before : TestFiles::contents(first));
        QVERIFY(!QFileInfo::exists(backup));
        // Owner, group and others as hexadecimal digits.
        const auto mode = [&](const QString &relative) { return int(QFile::permissions(installed() + relative)) & 0x7077; };
        const QList<int> modes{mode(u"/resources"_qs), mode(u"/resources/notes.txt"_qs), mode(UpdatePlatform::executable({}))};
        if (!fails)
            QCOMPARE(modes, (QList<int>{0x7055, 0x6044, 0x7055}));

        const QString running = u"nimbrel-update-%1.sh"_qs.arg(QCoreApplication::applicationPid());
        TestFiles::write(m_environment.workRoot + u'/' + running, "waiting");
        TestFiles::write(workFolder() + u".sh.tmp-x1Y2z3"_qs, "left by a crash");
        SelfUpdater::removeLeftovers(m_environment);
        QCOMPARE(QDir(m_environment.workRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{running});
    }

    // The download alone would take minutes.
    void cancellingStopsAtOnce()
    {
        m_answer.bytesPerTick = 1;
        QFuture<void> installation = serve();
        QTest::qWait(300);
        installation.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(installation.isFinished(), 2000);
        QVERIFY(!QFileInfo::exists(workFolder()));
    }

    // The bundle a memory volume of its own, mounted read-only, in a mount namespace of a child's own so
    // that nothing stays mounted whatever becomes of the test.
    void refusesReadOnlyVolume()
    {
        if (!qEnvironmentVariableIsSet("DROWSEWICK_TEST_PRIVATE_MOUNTS")) {
            qputenv("DROWSEWICK_TEST_PRIVATE_MOUNTS", "1");
            const ToolRun child = runTool(u"unshare"_qs,
                                          {u"--mount"_qs, u"--propagation"_qs, u"private"_qs,
                                           QCoreApplication::applicationFilePath(), u"refusesReadOnlyVolume"_qs});
            // Without root, or a mount namespace, unshare does not start it.
            if (!child.output.contains("TestSelfUpdater"))
                QSKIP("this system does not let tests mount a volume");
            QVERIFY2(child.exitCode == 0, child.output.constData());
            return;
        }
        const auto mount = [this](const QString &options) {
            return runTool(u"mount"_qs, {u"-t"_qs, u"tmpfs"_qs, u"-o"_qs, options, u"drowsewick-test"_qs, installed()}).exitCode;
        };
        QCOMPARE(mount(u"size=1m"_qs), 0);
        const auto unmount = qScopeGuard([this] { runTool(u"umount"_qs, {installed()}); });
        Bundles::make(installed(), "old", root(u"started"_qs));
        QCOMPARE(mount(u"remount,ro"_qs), 0);
        QCOMPARE(outcomeOf(serve()), u"readOnlyLocation"_qs);
    }
};

DROWSEWICK_TEST_MAIN(TestSelfUpdater, QCoreApplication)
#include "tst_SelfUpdater.moc"
