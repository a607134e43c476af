#include "BuildConfig.h"
#include "DrowsewickApp.h"
#include "DrowsewickModel.h"
#include "DurableFile.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Drowsewick"));
    QApplication::setApplicationVersion(QString::fromLatin1(BuildConfig::version));
    // A menu-bar utility: closing its windows never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(SingleInstance::defaultFolder());
    if (!instance.claim())
        return instance.handOver() ? 0 : 1;
    // Only the one instance may clear away what a crash of an earlier one left.
    DurableFile::removeLeftovers(Settings::filePath());
    DurableFile::removeLeftovers(DrowsewickModel::trackerPath());

    DrowsewickApp app(DrowsewickModel::shared(), BuildConfig::selfUpdate);
    QObject::connect(&instance, &SingleInstance::activated, &app, &DrowsewickApp::showSettings);
    // Once launching has finished: first poll, timer, update check.
    QTimer::singleShot(0, &app, [] { DrowsewickModel::shared().start(); });
    return application.exec();
}
