#pragma once

#include "StandinOutput.h"
#include "StandinStore.h"

#include <QStringList>

#include <functional>

// The commands a test uses to set the stand-in's Safari up and look at it.
class StandinTool
{
public:
    explicit StandinTool(const StandinStore &store) : m_store(store) {}

    StandinOutput run(const QStringList &arguments) const;

private:
    using Change = std::function<StandinOutput(StandinState &)>;
    StandinOutput change(const Change &change) const;
    StandinOutput load(const QString &path) const;
    StandinOutput running() const;
    StandinOutput select(const QString &windowID, const QString &index) const;

    const StandinStore &m_store;
};
