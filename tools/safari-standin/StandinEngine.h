#pragma once

#include "StandinOutput.h"
#include "StandinStore.h"

// Runs one script text against the stand-in's Safari the way osascript runs it against the real
// one: only the bridge's three scripts are understood, and every run is logged.
class StandinEngine
{
public:
    explicit StandinEngine(const StandinStore &store) : m_store(store) {}

    StandinOutput run(const QString &scriptText) const;

private:
    const StandinStore &m_store;
};
