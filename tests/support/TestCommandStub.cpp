#include "TestCommandStub.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

namespace {

// Arguments end in NUL bytes, so blanks, quotes and line breaks in them stay theirs.
const char* const kScript = "#!/bin/sh\n"
                            "printf '%s\\0' \"$@\" > '%RUNS%/.$$' && mv '%RUNS%/.$$' '%RUNS%/$$'\n";

} // namespace

TestCommandStub::TestCommandStub(const QString& name)
    : m_oldPath(qgetenv("PATH"))
{
    if (!m_dir.isValid() || !QDir(m_dir.path()).mkpath(QStringLiteral("bin"))
        || !QDir(m_dir.path()).mkpath(QStringLiteral("runs")))
        return;
    QFile script(m_dir.filePath(QStringLiteral("bin/") + name));
    if (!script.open(QIODevice::WriteOnly))
        return;
    const QString runs = m_dir.filePath(QStringLiteral("runs"));
    script.write(QString::fromLatin1(kScript).replace(QStringLiteral("%RUNS%"), runs).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("bin"))) + ':' + m_oldPath);
    m_valid = true;
}

TestCommandStub::~TestCommandStub()
{
    if (m_valid)
        qputenv("PATH", m_oldPath);
}

QList<QStringList> TestCommandStub::runs() const
{
    QList<QStringList> list;
    const QDir runs(m_dir.filePath(QStringLiteral("runs")));
    for (const QString& name : runs.entryList(QDir::Files, QDir::Time | QDir::Reversed)) {
        QFile file(runs.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray data = file.readAll();
        QStringList arguments;
        if (!data.isEmpty()) {
            for (const QByteArray& argument : data.chopped(1).split('\0'))
                arguments << QString::fromUtf8(argument);
        }
        list << arguments;
    }
    return list;
}

bool TestCommandStub::waitForRuns(int count, int timeoutMs) const
{
    return TestSupport::waitUntil([this, count] { return runs().size() >= count; }, timeoutMs);
}
