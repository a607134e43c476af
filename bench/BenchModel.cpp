#include "BenchModel.h"

#include "BenchData.h"

namespace BenchModel {

namespace {

class MovedClock : public Clock
{
public:
    explicit MovedClock(const QDateTime *now) : m_now(now) {}
    QDateTime now() const override { return *m_now; }

private:
    const QDateTime *m_now;
};

class SilentNotifications : public NotificationPoster
{
public:
    void requestPermission() override {}
    void post(const QString &, const QString &, const QString &) override {}
};

class NoDialogs : public Dialogs
{
public:
    void activateApplication() override {}
    int alert(const Alert &) override { return firstButton; }
    std::optional<QString> chooseFolder(const QString &, const QString &, const QString &) override { return {}; }
};

class NoUrlOpener : public UrlOpener
{
public:
    void open(const QUrl &) override {}
};

// Read before the application is made, which is when the platform is chosen.
Bench::Arguments offscreenArguments(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return Bench::Arguments::parse(argc, argv);
}

} // namespace

std::unique_ptr<DrowsewickModel> make(std::unique_ptr<SafariBridge> bridge, const QDateTime *now)
{
    return std::make_unique<DrowsewickModel>(DrowsewickModel::Services{
        std::move(bridge),
        std::make_unique<MovedClock>(now),
        std::make_unique<SilentNotifications>(),
        UserDefaults::createForPlatform(),
        std::make_unique<NoDialogs>(),
        std::make_unique<NoUrlOpener>(),
        std::make_unique<QNetworkAccessManager>(),
        QUrl(),
        [](const UpdateInfo &) { return QtFuture::makeReadyFuture(); },
        [] {},
        false,
    });
}

void changeSettings(DrowsewickModel &model, const std::function<void(Settings &)> &change)
{
    Settings settings = model.settings();
    change(settings);
    model.setSettings(settings);
}

ArchiveWindowBench::ArchiveWindowBench(int &argc, char *argv[])
    : arguments(offscreenArguments(argc, argv)),
      application(argc, argv),
      folder(BenchData::archiveFor(arguments.smoke, arguments.data, home.path())),
      model(make(std::make_unique<FixedBridge>(), &now))
{
    changeSettings(*model, [this](Settings &settings) { settings.archiveFolderPath = folder; });
}

} // namespace BenchModel
