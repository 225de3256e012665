#include "UiAppFixture.h"

#include "GuiTest.h"
#include "GuiTestHook.h"
#include "Sonaris.h"
#include "SonarisPrompt.h"
#include "TestSupport.h"
#include "VDB.h"
#include "ZvDB.h"
#include "ZvDBLog.h"

#include <QDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

void UiAppFixture::SetUp()
{
    GuiTest::hook().reset();
}

void UiAppFixture::TearDown()
{
    if (Sonaris::instance()) {
        Sonaris::instance()->shutdown();
        Sonaris::destroyInstance();
    }
    m_sonaris = nullptr;
    VDB::setDataRoot(QString());
    GuiTest::hook().reset();
}

Sonaris* UiAppFixture::create()
{
    m_sonaris = Sonaris::createInstance();
    {
        ZvDB db;
        db.checkUpgrade();
        db.initDefaults();
    }
    {
        ZvDBLog log;
        log.checkUpgrade();
    }
    m_httpPort = TestSupport::freeTcpPort();
    m_apiPort = TestSupport::freeTcpPort();
    m_sipPort = freeUdpPort();
    m_sonaris->setHttpPort(m_httpPort);
    m_sonaris->setSipPort(m_sipPort);
    m_sonaris->setApiPort(m_apiPort);
    return m_sonaris;
}

bool UiAppFixture::start()
{
    if (!m_sonaris)
        create();
    return m_sonaris->init(0, nullptr) == 0;
}

QByteArray UiAppFixture::sqlite(const QString& sql) const
{
    const TestSupport::Result r = TestSupport::run(QStringLiteral("sqlite3"), {databaseFile(), sql});
    return r.exitCode == 0 ? r.out : QByteArray();
}

QString UiAppFixture::setting(const QString& key) const
{
    QString quoted = key;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QString::fromUtf8(sqlite(QStringLiteral("select value from settings where key = '%1';").arg(quoted)))
        .trimmed();
}

QString UiAppFixture::databaseFile() const
{
    return m_app.filePath(QStringLiteral("database/zv.db"));
}

int UiAppFixture::freeUdpPort()
{
    for (int i = 0; i < 50; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0)
            return 0;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t length = sizeof address;
        int port = 0;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        close(fd);
        if (port > 0)
            return port;
    }
    return 0;
}
