#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// The user-interface translation table: every user-visible English text passes through
// translate(), keyed by its lower-cased form. Tables are plain UTF-8 "key=value" files, one per
// language, in the language folder.
class RDLanguage
{
public:
    virtual ~RDLanguage() = default;

    static void setLanguagePath(const QString& folder);
    static QString languagePath();

    // Loads the table without asking registered objects to re-apply their texts (start-up);
    // false when the file could not be read (every text then shows in English).
    static bool initLanguage(const QString& name);
    // Loads the table and asks every registered RDLocalize object to re-apply its texts, also
    // when the file could not be read (everything then shows in English).
    static void setLanguage(const QString& name);
    static QString currentLanguage();

    // Fills table from the language file; false (table empty) when the file is missing, cannot
    // be read, or the name would leave the language folder.
    static bool loadLanguage(const QString& name, QMap<QString, QString>& table);

    // Safe from any thread, also while another thread switches the language.
    static QString translate(const QString& text);
    static QString displayName(const QString& name);

    // Every text given to translate() (displayName() included) is also handed to the observer,
    // on the thread that looks it up, while one is set; nullptr stops that. It lets a test learn
    // which texts a language file has to hold. Unset, a lookup pays one atomic load for it.
    using LookupObserver = void (*)(const QString& text);
    static void setLookupObserver(LookupObserver observer);

    // Languages found in the language folder, sorted by name ignoring case.
    static void languages(QStringList& names, QStringList& displayNames);

    // Trims blanks (and trailing ';') and one pair of surrounding quotes from a key or value.
    static QString trimEntry(const QString& text);
};
