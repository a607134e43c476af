#include "BuildConfig.h"
#include "DrowsewickApp.h"
#include "DrowsewickModel.h"
#include "DurableFile.h"
#include "SelfUpdater.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    // Before anything else, with no display and whatever instance runs: the installer starts a
    // new bundle this way to see that it works and is the version it was offered as.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        return std::puts(BuildConfig::version) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Drowsewick"));
    QApplication::setApplicationVersion(QString::fromLatin1(BuildConfig::version));
    // A menu-bar utility: closing its windows never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(SingleInstance::defaultFolder());
    if (!instance.claim())
        return instance.handOver() ? 0 : 1;
    // Only the one instance may clear away what the crashes and updates of earlier runs left.
    DurableFile::removeLeftovers(Settings::filePath());
    DurableFile::removeLeftovers(DrowsewickModel::trackerPath());
    SelfUpdater::removeLeftovers(SelfUpdater::Environment::current());

    DrowsewickApp app(DrowsewickModel::shared(), BuildConfig::selfUpdate);
    QObject::connect(&instance, &SingleInstance::activated, &app, &DrowsewickApp::showSettings);
    // Once launching has finished: first poll, timer, update check.
    QTimer::singleShot(0, &app, [] { DrowsewickModel::shared().start(); });
    return application.exec();
}
