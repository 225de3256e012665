#pragma once

#include <QByteArray>
#include <QString>

// Start at log-on for the current user: an XDG autostart entry
// $XDG_CONFIG_HOME/autostart/<application name>.desktop (XDG_CONFIG_HOME defaults to ~/.config)
// whose Exec line runs the program.
class AutoStartEntry
{
public:
    static QString filePath(const QString& applicationName);

    // Writes the entry unless the file already holds exactly that content (then nothing is
    // touched). False when the folder or the file cannot be written, or the path cannot be put
    // on an Exec line (control characters).
    static bool install(const QString& applicationName, const QString& executablePath);
    // Removes the entry; true when it is gone afterwards (also when there was none).
    static bool remove(const QString& applicationName);

    // The whole entry; empty when the path cannot be put on an Exec line.
    static QByteArray content(const QString& applicationName, const QString& executablePath);
    // The path as one quoted Exec argument: "\"", "`", "$" and "\\" escaped inside the quotes,
    // then every "\\" doubled for the string value, and "%" written "%%".
    static QString quoteExec(const QString& executablePath);
};
