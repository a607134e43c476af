#pragma once

#include "BenchSupport.h"
#include "DrowsewickModel.h"

#include <QApplication>
#include <QDateTime>

#include <memory>

// A controller for benchmarks: the bridge given, a clock the benchmark moves, and platform
// services that do nothing, so only the code under measurement takes time.
namespace BenchModel {

// Answers every snapshot with the same tabs; closing and opening do nothing.
class FixedBridge : public SafariBridge
{
public:
    explicit FixedBridge(SafariSnapshot snapshot = {}) : m_snapshot(std::move(snapshot)) {}
    SafariSnapshot snapshot() override { return m_snapshot; }
    void close(const SafariTab &) override {}
    void open(const QString &) override {}

private:
    SafariSnapshot m_snapshot;
};

// Needs a throw-away home: the controller reads and writes its settings and tracker there.
std::unique_ptr<DrowsewickModel> make(std::unique_ptr<SafariBridge> bridge, const QDateTime *now);

// The controller with these settings changed, saved as the settings window would.
void changeSettings(DrowsewickModel &model, const std::function<void(Settings &)> &change);

// What the archive-window benchmarks share: the offscreen application in a throw-away home, the
// archive to read, and a controller whose archive folder it is.
struct ArchiveWindowBench
{
    ArchiveWindowBench(int &argc, char *argv[]);

    Bench::Arguments arguments;
    Bench::ThrowAwayHome home;
    QApplication application;
    QString folder;
    QDateTime now = QDateTime::currentDateTimeUtc();
    std::unique_ptr<DrowsewickModel> model;
};

} // namespace BenchModel
