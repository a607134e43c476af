// Renders the menu in its main states, the settings window and the archive browser to PNG files,
// so the interface can be looked at without a desktop.
#include "Archive.h"
#include "ArchiveBrowser.h"
#include "BuildConfig.h"
#include "DrowsewickApp.h"
#include "DrowsewickModel.h"
#include "SettingsWindowController.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTextStream>

#include <cstdio>

namespace {

void save(QWidget &widget, const QString &folder, const QString &name)
{
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    widget.grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

void saveMenu(QMenu &menu, const QString &folder, const QString &name)
{
    menu.popup(QPoint(20, 20));
    save(menu, folder, name);
    menu.hide();
}

void renderMenus(DrowsewickApp &app, const QString &folder)
{
    MenuInputs closed;
    MenuInputs denied;
    denied.permissionDenied = true;
    MenuInputs counting;
    counting.trackedCount = 14;
    counting.staleCount = 3;
    counting.lastSweepSummary = QStringLiteral("Swept 3 tabs · 09:05");
    MenuInputs update = counting;
    update.updateVersion = QStringLiteral("1.5");
    MenuInputs installing = update;
    installing.isUpdating = true;
    const std::pair<const char *, MenuInputs> states[] = {
        {"menu-safari-closed", closed}, {"menu-access-needed", denied}, {"menu-counts", counting},
        {"menu-update-available", update}, {"menu-installing", installing},
    };
    for (const auto &[name, inputs] : states) {
        app.showState(MenuState::of(inputs));
        saveMenu(app.menu(), folder, QString::fromLatin1(name));
    }
}

QList<SafariTab> sampleTabs()
{
    const std::pair<const char *, const char *> tabs[] = {
        {"https://en.wikipedia.org/wiki/Mercury_(planet)", "Mercury (planet) - Wikipedia"},
        {"https://www.bbc.com/news/science-environment", "Science - BBC News"},
        {"https://www.recipetineats.com/lasagna/", "Lasagna [the best!] | RecipeTin Eats"},
        {"https://doc.qt.io/qt-6/qsystemtrayicon.html", "QSystemTrayIcon Class | Qt Widgets 6"},
        {"https://weather.example.org/berlin", "Berlin weather: 14 days"},
        {"https://docs.python.org/3/library/json.html", "json — JSON encoder and decoder"},
    };
    QList<SafariTab> list;
    for (const auto &[url, title] : tabs)
        list.append(SafariTab(1, QString::fromUtf8(url), QString::fromUtf8(title)));
    return list;
}

void renderSettings(DrowsewickModel &model, const QString &folder)
{
    for (const char *pattern : {"mail.example.com", "calendar.example.com", "github.com"})
        model.addNeverSweep(QString::fromLatin1(pattern));
    SettingsWindowController::shared().show(model);
    save(*SettingsWindowController::shared().window(), folder, QStringLiteral("settings"));
}

void renderArchive(DrowsewickModel &model, const QString &folder)
{
    ArchiveBrowserController &browser = ArchiveBrowserController::shared();
    browser.show(model);
    save(*browser.window(), folder, QStringLiteral("archive-empty"));

    const QDateTime now = QDateTime::currentDateTime();
    Archive::append(sampleTabs().mid(0, 3), model.settings().archiveFolder(), now.addDays(-1));
    Archive::append(sampleTabs().mid(3), model.settings().archiveFolder(), now);
    browser.show(model);
    save(*browser.window(), folder, QStringLiteral("archive-entries"));

    browser.window()->findChild<QLineEdit *>(QStringLiteral("searchField"))->setText(QStringLiteral("no such tab"));
    save(*browser.window(), folder, QStringLiteral("archive-no-match"));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationVersion(QString::fromLatin1(BuildConfig::version));
    if (argc != 2) {
        std::fprintf(stderr, "usage: drowsewick-screenshots <output-folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    DrowsewickModel &model = DrowsewickModel::shared();
    DrowsewickApp app(model, BuildConfig::selfUpdate);
    renderMenus(app, folder);
    renderSettings(model, folder);
    renderArchive(model, folder);
    return 0;
}
