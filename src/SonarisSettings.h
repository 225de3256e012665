#pragma once

#include "ZvDB.h"

#include <QString>

// The keys of the "settings" table, their defaults, and how a stored text reads as a number.
// Sonaris's getters and setters use them; nothing else should spell a key.
class SonarisSettings
{
public:
    static constexpr const char* kApiEnable = "api enable";
    static constexpr const char* kApiPort = "api port";
    static constexpr const char* kAuthEnable = "auth enable";
    static constexpr const char* kAuthPassword = "auth password";
    static constexpr const char* kAuthUsername = "auth username";
    static constexpr const char* kAutoRun = "auto run";
    static constexpr const char* kHttpPort = "http port";
    static constexpr const char* kLanguage = "language";
    static constexpr const char* kNetworkName = "network name";
    static constexpr const char* kSipPort = "sip port";
    static constexpr const char* kVexaCode = "vexacode";
    static constexpr const char* kVexaCodeEnable = "vexacode enable";
    // Written once, at the first run, by ZvDB::initDefaults.
    static constexpr const char* kInstallationId = ZvDB::kInstallationIdKey;

    static constexpr int kDefaultApiPort = 9012;
    static constexpr int kDefaultHttpPort = 5262;
    static constexpr int kDefaultSipPort = 6832;
    static constexpr const char* kDefaultLanguage = "English";

    // A switch: 0 for the empty text or a text that is not a decimal number, else its value.
    static int flagValue(const QString& text);
    // A port: the default unless the text is a decimal number from 1 to 65535.
    static int portValue(const QString& text, int defaultPort);
};
