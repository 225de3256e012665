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

    // Loads the table without asking registered objects to re-apply their texts (start-up).
    static void initLanguage(const QString& name);
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

    // Languages found in the language folder, sorted by name ignoring case.
    static void languages(QStringList& names, QStringList& displayNames);

    // Trims blanks (and trailing ';') and one pair of surrounding quotes from a key or value.
    static QString trimEntry(const QString& text);
};
