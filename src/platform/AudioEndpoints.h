#pragma once

#include <QString>
#include <QVector>

// The audio endpoints the sound server offers. Capture endpoints are its sources that are not a
// sink's monitor; render endpoints are its sinks (captured as loopback through their monitor).
// An endpoint's id is the server's name for it, which stays the same across restarts; its name is
// the server's description.
class AudioEndpoints
{
public:
    enum Flow { Render = 0, Capture = 1 };

    struct Endpoint
    {
        QString id;
        QString name;
    };

    // The endpoints of one direction in the server's order. False when no server answers or the
    // list cannot be read; error then says why.
    static bool list(Flow flow, QVector<Endpoint>* endpoints, QString* error = nullptr);

    // How long a listing or an open waits for the server.
    static constexpr int kServerTimeoutMs = 3000;
};
