#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// Points HOME and every XDG folder into a fresh temporary folder before anything reads them, so
// no test ever touches the real user's files, and removes it afterwards.
class TestHome
{
public:
    TestHome();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
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

namespace TestFiles {

QByteArray read(const QString &path);
// Makes the folders on the way; executable for all when asked.
void write(const QString &path, const QByteArray &bytes, bool executable = false);
// Everything in a folder: relative path to content ("/" for a folder, "-> target" for a link).
QMap<QString, QByteArray> contents(const QString &folder);

} // namespace TestFiles

struct ToolRun
{
    int exitCode = -1;
    QByteArray output; // standard output and error together
};

// Runs a command to its end, within a minute.
ToolRun runTool(const QString &program, const QStringList &arguments, const QString &folder = {},
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
