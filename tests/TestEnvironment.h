#pragma once

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>

// Points HOME and every XDG folder into a fresh temporary folder before anything reads them, so
// no test ever touches the real user's files, and removes it afterwards.
class TestHome
{
public:
    TestHome()
    {
        if (!m_dir.isValid()) {
            std::fprintf(stderr, "cannot create a temporary HOME\n");
            std::exit(1);
        }
        const QByteArray root = QFile::encodeName(m_dir.path());
        set("HOME", root);
        set("XDG_DATA_HOME", root + "/.local/share");
        set("XDG_CONFIG_HOME", root + "/.config");
        set("XDG_STATE_HOME", root + "/.local/state");
        set("XDG_CACHE_HOME", root + "/.cache");
        set("XDG_RUNTIME_DIR", root + "/runtime");
        QDir().mkpath(m_dir.path() + QStringLiteral("/runtime"));
        QFile::setPermissions(m_dir.path() + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qunsetenv("XDG_DOCUMENTS_DIR");
        // Day files and time stamps follow the local zone; tests that care set another one.
        set("TZ", "UTC");
    }
    QString path() const { return m_dir.path(); }

private:
    static void set(const char *name, const QByteArray &value) { qputenv(name, value); }
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/drowsewick-test-XXXXXX")};
};

// Whether this build has the macOS platform layer, which also runs here on stand-in tools.
inline bool macOSFlavour()
{
    return QLatin1String(DROWSEWICK_PLATFORM) == QLatin1String("macos");
}

#define DROWSEWICK_TEST_MAIN(TestObject, ApplicationType)                                                    \
    int main(int argc, char *argv[])                                                                        \
    {                                                                                                       \
        TestHome home;                                                                                      \
        ApplicationType app(argc, argv);                                                                    \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                            \
        TestObject test;                                                                                    \
        QTEST_SET_MAIN_SOURCE_PATH                                                                          \
        return QTest::qExec(&test, argc, argv);                                                             \
    }
