// Asks the X display in DISPLAY what a Qt program there gets, for the Xvfb test:
//   xvfb_query clipboard   the text on the clipboard (what a window of the program copied)
//   xvfb_query font        the application font a Qt program starts with there
// Prints it and exits 0; exits 1 when there is nothing to print.
#include <QClipboard>
#include <QFont>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QGuiApplication app(argc, argv);
    QByteArray text;
    if (argc == 2 && std::strcmp(argv[1], "clipboard") == 0) {
        // Asks the owner of the selection and waits for its answer (Qt gives up after a few seconds).
        text = QGuiApplication::clipboard()->text().toUtf8();
    } else if (argc == 2 && std::strcmp(argv[1], "font") == 0) {
        text = QGuiApplication::font().toString().toUtf8();
    } else {
        std::fprintf(stderr, "usage: xvfb_query clipboard|font\n");
        return 2;
    }
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return text.isEmpty() ? 1 : 0;
}
