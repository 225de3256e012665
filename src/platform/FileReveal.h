#pragma once

#include <QString>
#include <QStringList>

// Shows a file in the system's file browser (the desktop's stand-in for "explorer /select,").
// The folder of the file is handed to xdg-open as one argument: no shell ever reads the path, so
// blanks, quotes and the like in file names are only names. Returns false when the browser could
// not be started.
class FileReveal
{
public:
    static bool reveal(const QString& path);
    // What reveal starts: the program and its arguments.
    static QString program();
    static QStringList arguments(const QString& path);
};
