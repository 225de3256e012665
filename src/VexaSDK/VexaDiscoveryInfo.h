#pragma once

#include <QString>

// What a discovery reply says about the program, read afresh for every reply (the settings may
// change while discovery runs). Filled by the application, which owns the settings.
struct VexaDiscoveryInfo
{
    // "api enable" and "api port": the WebSocket API's code is offered when enabled.
    bool apiEnable = false;
    int apiPort = 0;
    // The IPv4 text of the adapter chosen by "network name", for the API's code.
    QString ip;
    // "vexacode enable" and "vexacode": the stored P2P code, offered otherwise.
    bool vexaCodeEnable = false;
    QString vexaCode;
    // The stored installation identifier, the application's name and version.
    QString uid;
    QString name;
    QString version;
};
