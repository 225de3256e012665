#include "XvfbDisplay.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QHash>

XvfbDisplay::~XvfbDisplay()
{
    if (m_server && m_server->state() != QProcess::NotRunning) {
        m_server->terminate();
        if (!m_server->waitForFinished(10000)) {
            m_server->kill();
            m_server->waitForFinished(5000);
        }
    }
    if (!m_name.isEmpty()) {
        if (m_previousDisplay.isNull())
            qunsetenv("DISPLAY");
        else
            qputenv("DISPLAY", m_previousDisplay);
    }
}

bool XvfbDisplay::start(const QSize& screen, int dpi)
{
    m_server = std::make_unique<QProcess>();
    // Its messages go to a file: nobody reads a pipe while the test runs, and a full one would stop
    // the server.
    if (!m_log.open()) {
        m_error = QStringLiteral("no file for the messages of Xvfb");
        return false;
    }
    m_server->setStandardErrorFile(m_log.fileName());
    // setpriv: the kernel ends the server when the test process ends, however it ends.
    // -displayfd 1: the server picks a free display number and writes it to its standard output
    // once it accepts clients.
    m_server->start(QStringLiteral("setpriv"),
                    {QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), QStringLiteral("--"), QStringLiteral("Xvfb"),
                     QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                     QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()), QStringLiteral("-dpi"),
                     QString::number(dpi), QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")});
    if (!m_server->waitForStarted(10000)) {
        m_error = QStringLiteral("Xvfb did not start: ") + m_server->errorString();
        return false;
    }
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (!out.contains('\n') && clock.elapsed() < 60000 && m_server->state() == QProcess::Running) {
        m_server->waitForReadyRead(100);
        out += m_server->readAllStandardOutput();
    }
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (!out.contains('\n') || !ok) {
        m_error = QStringLiteral("Xvfb gave no display number: ") +
                  QString::fromLocal8Bit(out + m_log.readAll());
        return false;
    }
    m_name = QStringLiteral(":%1").arg(number);
    m_previousDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", m_name.toLatin1());
    return true;
}

QList<XvfbDisplay::Window> XvfbDisplay::windows(qint64 pid) const
{
    QList<Window> found;
    const TestSupport::Result ids = TestSupport::run(
        QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                    QString::number(pid)});
    for (const QByteArray& id : ids.out.split('\n')) {
        if (id.trimmed().isEmpty())
            continue;
        // X=, Y=, WIDTH=, HEIGHT= lines; a window that went meanwhile gives none.
        const TestSupport::Result shell = TestSupport::run(
            QStringLiteral("xdotool"),
            {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::fromLatin1(id.trimmed())});
        QHash<QString, int> values;
        for (const QByteArray& line : shell.out.split('\n')) {
            const int equals = line.indexOf('=');
            if (equals > 0)
                values.insert(QString::fromLatin1(line.left(equals)), line.mid(equals + 1).trimmed().toInt());
        }
        if (shell.exitCode != 0 || !values.contains(QStringLiteral("WIDTH")))
            continue;
        found.append({QString::fromLatin1(id.trimmed()),
                      QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                            values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")))});
    }
    return found;
}

bool XvfbDisplay::click(const QPoint& at, bool shift) const
{
    // The pointer goes back to the corner afterwards, where no window is: no hover colours and no
    // tool tips in the pictures.
    QStringList arguments{QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                          QStringLiteral("click"), QStringLiteral("1")};
    if (shift)
        arguments = QStringList{QStringLiteral("keydown"), QStringLiteral("shift")} + arguments +
                    QStringList{QStringLiteral("keyup"), QStringLiteral("shift")};
    arguments += QStringList{QStringLiteral("mousemove"), QStringLiteral("0"), QStringLiteral("0")};
    return TestSupport::run(QStringLiteral("xdotool"), arguments).exitCode == 0;
}

bool XvfbDisplay::key(const QString& combination) const
{
    return TestSupport::run(QStringLiteral("xdotool"), {QStringLiteral("key"), combination}).exitCode == 0;
}

QByteArray XvfbDisplay::grab(const QRect& area) const
{
    const TestSupport::Result shot = TestSupport::run(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
         QStringLiteral("x11grab"), QStringLiteral("-draw_mouse"), QStringLiteral("0"), QStringLiteral("-video_size"),
         QStringLiteral("%1x%2").arg(area.width()).arg(area.height()), QStringLiteral("-i"),
         QStringLiteral("%1+%2,%3").arg(m_name).arg(area.x()).arg(area.y()), QStringLiteral("-frames:v"),
         QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("image2pipe"), QStringLiteral("-c:v"),
         QStringLiteral("png"), QStringLiteral("-")});
    return shot.exitCode == 0 ? shot.out : QByteArray();
}

QByteArray XvfbDisplay::grabSettled(const QRect& area, const QByteArray& before, int timeoutMs) const
{
    QByteArray last;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const QByteArray picture = grab(area);
        if (!picture.isEmpty() && picture == last && picture != before)
            return picture;
        last = picture;
    }
    return QByteArray();
}

QString XvfbDisplay::query(const QString& what) const
{
    const TestSupport::Result result =
        TestSupport::run(TestSupport::binaryDir() + QStringLiteral("/tests/ui/xvfb_query"), {what});
    return result.exitCode == 0 ? QString::fromUtf8(result.out) : QString();
}

QString XvfbDisplay::clipboardText() const
{
    return query(QStringLiteral("clipboard"));
}

bool XvfbDisplay::applicationFont(QFont* font) const
{
    return font->fromString(query(QStringLiteral("font")));
}
