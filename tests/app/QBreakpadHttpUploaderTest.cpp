#include "QBreakpadHandler.h"
#include "QBreakpadHttpUploader.h"
#include "CrashWriter.h"
#include "TestSupport.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// A local receiver: reads one whole request (head and Content-Length body) and answers with
// the status it was given.
class DumpReceiver : public QObject
{
public:
    explicit DumpReceiver(int status) : m_status(status)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        });
    }

    int port() const { return m_server.serverPort(); }
    QByteArray head;
    QByteArray body;

private:
    void read(QTcpSocket* socket)
    {
        m_data += socket->readAll();
        const int end = m_data.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        head = m_data.left(end);
        int length = 0;
        for (const QByteArray& line : head.split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toInt();
        if (m_data.size() - end - 4 < length)
            return;
        body = m_data.mid(end + 4, length);
        const QByteArray answer = m_status == 200 ? "stored" : "broken";
        socket->write("HTTP/1.1 " + QByteArray::number(m_status) + " X\r\nContent-Length: " +
                      QByteArray::number(answer.size()) + "\r\nConnection: close\r\n\r\n" + answer);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QByteArray m_data;
    int m_status;
};

struct Upload
{
    bool finished = false;
    QString answer;
};

Upload upload(const QUrl& url, const QString& path)
{
    Upload result;
    QBreakpadHttpUploader uploader(url);
    QEventLoop loop;
    QObject::connect(&uploader, &QBreakpadHttpUploader::finished, &loop, [&](const QString& answer) {
        result.finished = true;
        result.answer = answer;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    uploader.uploadDump(path);
    if (!result.finished)
        loop.exec();
    return result;
}

TEST(QBreakpadHttpUploaderTest, PostsThreePartsAndRemovesTheDumpOnlyWhenAccepted)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (int status : {200, 500}) {
        const QString path = dir.path() + QStringLiteral("/0f0e0d0c-0000-4000-8000-000000000001.dmp");
        QFile dump(path);
        ASSERT_TRUE(dump.open(QIODevice::WriteOnly));
        dump.write("report body\n\x01\x02");
        dump.close();

        DumpReceiver receiver(status);
        const Upload result = upload(QUrl(QStringLiteral("http://127.0.0.1:%1/submit").arg(receiver.port())), path);
        ASSERT_TRUE(result.finished) << status;
        EXPECT_EQ(result.answer, status == 200 ? QStringLiteral("stored") : QStringLiteral("broken"));
        EXPECT_EQ(QFileInfo::exists(path), status != 200) << status;

        EXPECT_TRUE(receiver.head.startsWith("POST /submit HTTP/1.1")) << receiver.head.toStdString();
        EXPECT_TRUE(receiver.head.contains("User-Agent: Quorvel Sonaris/3.2.9")) << receiver.head.toStdString();
        EXPECT_TRUE(receiver.head.contains("multipart/form-data; boundary=")) << receiver.head.toStdString();
        const int prod = receiver.body.indexOf("Content-Disposition: form-data; name=\"prod\"\r\n\r\nQuorvel Sonaris\r\n");
        const int ver = receiver.body.indexOf("Content-Disposition: form-data; name=\"ver\"\r\n\r\n3.2.9\r\n");
        const int file = receiver.body.indexOf(
            "Content-Disposition: form-data; name=\"upload_file_minidump\"; "
            "filename=\"0f0e0d0c-0000-4000-8000-000000000001.dmp\"");
        EXPECT_GE(prod, 0) << receiver.body.toStdString();
        EXPECT_GT(ver, prod);
        EXPECT_GT(file, ver);
        EXPECT_TRUE(receiver.body.contains("Content-Type: application/octet-stream")) << receiver.body.toStdString();
        EXPECT_TRUE(receiver.body.contains("report body\n\x01\x02")) << receiver.body.toStdString();
    }
}

TEST(QBreakpadHttpUploaderTest, MissingDumpPostsNothing)
{
    DumpReceiver receiver(200);
    const Upload result = upload(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(receiver.port())),
                                 QStringLiteral("/nonexistent/none.dmp"));
    EXPECT_TRUE(result.finished);
    EXPECT_TRUE(result.answer.isEmpty());
    EXPECT_TRUE(receiver.head.isEmpty());
}

QStringList g_messages;

void keepMessage(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_messages.append(text);
}

TEST(QBreakpadHandlerTest, FolderThatCannotBeMadeInstallsNothing)
{
    QTemporaryDir dir;
    QFile plain(dir.path() + QStringLiteral("/file"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString folder = dir.path() + QStringLiteral("/file/crash");
    const char* before = CrashWriter::dumpPath();
    const QByteArray pathBefore(before);
    g_messages.clear();
    QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    QBreakpadHandler::instance()->setDumpPath(folder);
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_messages, QStringList{QStringLiteral("Failed to set dump path which not exists: ") + folder});
    EXPECT_NE(QBreakpadHandler::instance()->dumpPath(), folder);
    EXPECT_EQ(QByteArray(CrashWriter::dumpPath()), pathBefore);
}

} // namespace
