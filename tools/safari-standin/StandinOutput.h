#pragma once

#include <QByteArray>

// What one run of the stand-in hands back to whoever started it.
struct StandinOutput
{
    int exitCode = 0;
    QByteArray standardOutput;
    QByteArray standardError;
};
