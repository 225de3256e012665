#include "RDLanguage.h"

#include "RDLocalize.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <memory>
#include <mutex>

namespace {

using Table = QMap<QString, QString>;

struct State
{
    std::mutex mutex;
    QString folder;
    QString current;
    // Replaced whole on every load; readers keep the table they took alive.
    std::shared_ptr<const Table> table = std::make_shared<const Table>();
};

State& state()
{
    static State s;
    return s;
}

std::atomic<RDLanguage::LookupObserver> g_lookupObserver{nullptr};

std::shared_ptr<const Table> currentTable()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().table;
}

bool load(const QString& name)
{
    auto table = std::make_shared<Table>();
    const bool loaded = RDLanguage::loadLanguage(name, *table);
    std::lock_guard<std::mutex> lock(state().mutex);
    state().current = name;
    state().table = std::move(table);
    return loaded;
}

} // namespace

void RDLanguage::setLanguagePath(const QString& folder)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().folder = folder;
}

QString RDLanguage::languagePath()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().folder;
}

bool RDLanguage::initLanguage(const QString& name)
{
    return load(name);
}

void RDLanguage::setLanguage(const QString& name)
{
    load(name);
    RDLocalize::localizeAll();
}

QString RDLanguage::currentLanguage()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().current;
}

QString RDLanguage::trimEntry(const QString& text)
{
    int begin = 0;
    int end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && (text[end - 1] == QLatin1Char(' ') || text[end - 1] == QLatin1Char(';')))
        --end;
    if (begin < end && text[begin] == QLatin1Char('"'))
        ++begin;
    if (begin < end && text[end - 1] == QLatin1Char('"'))
        --end;
    return text.mid(begin, end - begin);
}

bool RDLanguage::loadLanguage(const QString& name, QMap<QString, QString>& table)
{
    table.clear();
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return false;
    const QString fileName = name.endsWith(QLatin1String(".txt")) ? name : name + QLatin1String(".txt");
    const QString folder = languagePath();
    const QString path = folder.endsWith(QLatin1Char('/')) ? folder + fileName : folder + QLatin1Char('/') + fileName;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.isEmpty())
            break; // the table ends at the first empty line
        const QStringList parts = line.split(QLatin1Char('='));
        if (parts.size() != 2)
            continue;
        table.insert(trimEntry(parts[0]).toLower(), trimEntry(parts[1]));
    }
    return true;
}

void RDLanguage::setLookupObserver(LookupObserver observer)
{
    g_lookupObserver.store(observer);
}

QString RDLanguage::translate(const QString& text)
{
    if (const LookupObserver observer = g_lookupObserver.load(std::memory_order_acquire))
        observer(text);
    const std::shared_ptr<const Table> table = currentTable();
    auto it = table->constFind(text.toLower());
    return it == table->constEnd() ? text : it.value();
}

QString RDLanguage::displayName(const QString& name)
{
    return translate(name);
}

void RDLanguage::languages(QStringList& names, QStringList& displayNames)
{
    names.clear();
    displayNames.clear();
    QDir dir(languagePath());
    const QStringList files =
        dir.entryList(QStringList{QStringLiteral("*.txt")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& file : files) {
        const int dot = file.lastIndexOf(QLatin1Char('.'));
        const QString base = dot > 0 ? file.left(dot) : file;
        // Hidden files, and names that loadLanguage refuses, are no languages.
        if (base.isEmpty() || base.startsWith(QLatin1Char('.')) || base.contains(QLatin1Char('\\')))
            continue;
        names.append(base);
        displayNames.append(displayName(base));
    }
}
