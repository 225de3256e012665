#pragma once

#include "TempAppDir.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

class Sonaris;

// The application object started in this process the way main starts it, in a temporary
// application folder (databases, language files) with a temporary XDG_CONFIG_HOME, on ports no
// other run uses. The windows under test read and write its settings.
class UiAppFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the databases with their first-run defaults and free ports; call before start().
    Sonaris* create();
    // Runs the start-up sequence; false when it failed.
    bool start();

    // The sqlite3 command's output for a query of the channel database (null on failure).
    QByteArray sqlite(const QString& sql) const;
    QString setting(const QString& key) const;
    QString databaseFile() const;

    // A UDP port of 0.0.0.0 that nothing uses just now.
    static int freeUdpPort();

    TempAppDir m_app;
    Sonaris* m_sonaris = nullptr;
    int m_httpPort = 0;
    int m_sipPort = 0;
    int m_apiPort = 0;
};
