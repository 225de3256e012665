#include "TempAppDir.h"

#include <QDir>

TempAppDir::TempAppDir()
    : m_oldAppDir(qgetenv(kVariable))
    , m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
    , m_hadAppDir(qEnvironmentVariableIsSet(kVariable))
    , m_hadConfig(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    QDir(m_dir.path()).mkpath(QStringLiteral("config"));
    qputenv(kVariable, m_dir.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
}

TempAppDir::~TempAppDir()
{
    if (m_hadAppDir)
        qputenv(kVariable, m_oldAppDir);
    else
        qunsetenv(kVariable);
    if (m_hadConfig)
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
    else
        qunsetenv("XDG_CONFIG_HOME");
}
