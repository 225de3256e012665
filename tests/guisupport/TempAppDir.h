#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A temporary application folder (database/, sounds/, language/, log/ go there) set through the
// program's override variable, and a temporary XDG_CONFIG_HOME, both for the object's lifetime.
class TempAppDir
{
public:
    static constexpr const char* kVariable = "SONARIS_APP_DIR";

    TempAppDir();
    ~TempAppDir();
    TempAppDir(const TempAppDir&) = delete;
    TempAppDir& operator=(const TempAppDir&) = delete;

    QString path() const { return m_dir.path(); }
    // path() joined with a relative name.
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldAppDir;
    QByteArray m_oldConfig;
    bool m_hadAppDir;
    bool m_hadConfig;
};
