#pragma once

#include "BenchSupport.h"
#include "ModelHarness.h"
#include "TestHome.h"

#include <QApplication>
#include <QDateTime>

#include <memory>

// The tests' controller, on a bridge that costs nothing, so only the code under measurement takes time.
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

// What the archive-window benchmarks share: the offscreen application in a throw-away home, the
// archive to read, and a controller whose archive folder it is.
struct ArchiveWindowBench
{
    ArchiveWindowBench(int &argc, char *argv[]);

    Bench::Arguments arguments;
    TestHome home;
    QApplication application;
    QString folder;
    ModelHarness harness;
    DrowsewickModel &model() { return *harness.model; }
};

} // namespace BenchModel
