#include "RDSystemNetwork.h"

#include "TestNetns.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <net/if.h>
#include <sys/stat.h>

namespace {

RDSystemNetwork record(const QString& description, const QString& ip, const QString& gateway)
{
    RDSystemNetwork n;
    n.setName(description);
    n.setDescription(description);
    n.setIp(ip);
    n.setGateway(gateway);
    n.setIpBytes(RDSystemNetwork::parseIpBytes(ip));
    return n;
}

QString describe(const RDSystemNetwork& n)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(n.name(), n.description(), QString::fromLatin1(n.mac().toHex()), n.ip(), n.netmask(), n.gateway(),
             QString::fromLatin1(n.ipBytes().toHex()));
}

class Receiver : public QObject
{
    Q_OBJECT
public:
    RDSystemNetwork received;
    int calls = 0;
public slots:
    void take(const RDSystemNetwork& n)
    {
        received = n;
        ++calls;
    }
};

} // namespace

TEST(RDSystemNetworkTest, SelectFromTable)
{
    const QList<RDSystemNetwork> list{record("eth0", "10.0.0.5", "10.0.0.1"),
                                      record("wifi", "192.168.5.9", ""),
                                      record("eth1", "172.16.0.2", "192.168.0.1"),
                                      record("eth1", "172.16.0.3", "192.168.0.1"),
                                      record("eth2", "192.168.9.9", "192.168.9.1")};
    EXPECT_EQ(RDSystemNetwork::selectFrom(list, "wifi").ip(), "192.168.5.9") << "exact description";
    EXPECT_EQ(RDSystemNetwork::selectFrom(list, "eth1").ip(), "172.16.0.2") << "first of two with that description";
    EXPECT_EQ(RDSystemNetwork::selectFrom(list, "ETH2").ip(), "172.16.0.2")
        << "case matters; then the first with a 192.168 gateway, whatever its own address";
    EXPECT_EQ(RDSystemNetwork::selectFrom(list, "").ip(), "172.16.0.2");
    const QList<RDSystemNetwork> noHomeGateway{record("a", "10.0.0.5", "10.0.0.1"), record("b", "192.168.1.2", "")};
    EXPECT_EQ(RDSystemNetwork::selectFrom(noHomeGateway, "x").description(), "a") << "else the first";
    const RDSystemNetwork none = RDSystemNetwork::selectFrom({}, "a");
    EXPECT_TRUE(none.ip().isEmpty() && none.description().isEmpty() && none.ipBytes().isEmpty());
}

TEST(RDSystemNetworkTest, IpBytes)
{
    EXPECT_EQ(RDSystemNetwork::parseIpBytes("192.168.77.2"), QByteArray::fromHex("c0a84d02"));
    EXPECT_EQ(RDSystemNetwork::parseIpBytes("1.2.3.256"), QByteArray::fromHex("01020300")) << "low 8 bits";
    EXPECT_TRUE(RDSystemNetwork::parseIpBytes("1.2.3").isEmpty());
    EXPECT_TRUE(RDSystemNetwork::parseIpBytes("").isEmpty());
}

TEST(RDSystemNetworkTest, CopiesAndQueuedCallsKeepAllFields)
{
    RDSystemNetwork n = record("veth0", "192.168.77.2", "192.168.77.1");
    n.setName("veth0-capture");
    n.setMac(QByteArray::fromHex("020000000001"));
    n.setNetmask("255.255.255.0");
    const RDSystemNetwork copy(n);
    EXPECT_EQ(describe(copy), describe(n));
    RDSystemNetwork assigned;
    assigned = n;
    EXPECT_EQ(describe(assigned), describe(n));
    const RDSystemNetwork& same = assigned;
    assigned = same;
    EXPECT_EQ(describe(assigned), describe(n));

    Receiver receiver;
    ASSERT_TRUE(QMetaObject::invokeMethod(&receiver, "take", Qt::QueuedConnection, Q_ARG(RDSystemNetwork, n)));
    EXPECT_EQ(receiver.calls, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(receiver.calls, 1);
    EXPECT_EQ(describe(receiver.received), describe(n));
}

// Two interfaces of a namespace made here (a veth pair), each with a second, link-local or
// 169.x address, plus one interface that is down. The adapter list is read inside the namespace,
// where /sys and /proc/net/route are the namespace's own.
TEST(RDSystemNetworkTest, AdapterListInsideANamespace)
{
    if (TestNetns::inside()) {
        const QList<RDSystemNetwork> list = RDSystemNetwork::networks();
        const QString a = "sxa|sxa|020000000001|192.168.77.2|255.255.255.0|192.168.77.1|c0a84d02";
        const QString b1 = "sxb|sxb|020000000002|10.9.9.9|255.0.0.0|10.0.0.1|0a090909";
        const QString b2 = "sxb|sxb|020000000002|169.1.2.3|255.255.0.0|10.0.0.1|a9010203";
        QStringList expected = if_nametoindex("sxa") < if_nametoindex("sxb") ? QStringList{a, b1, b2}
                                                                             : QStringList{b1, b2, a};
        QStringList got;
        for (const RDSystemNetwork& n : list)
            got << describe(n);
        EXPECT_EQ(got, expected);
        EXPECT_EQ(RDSystemNetwork::select("sxb").ip(), "10.9.9.9");
        EXPECT_EQ(RDSystemNetwork::select("sxa").ip(), "192.168.77.2");
        EXPECT_EQ(RDSystemNetwork::select("gone").ip(), "192.168.77.2") << "the one with a 192.168 gateway";
        return;
    }
    SONARIS_REQUIRE_PEER(TestNetns::available(), "network namespaces (root and the ip command)");
    TestNetns ns(QStringLiteral("adapters"));
    ASSERT_TRUE(ns.isValid());
    ASSERT_TRUE(TestNetns::vethPair(ns, "sxa", "192.168.77.2/24", ns, "sxb", "10.9.9.9/8"));
    ASSERT_TRUE(ns.ip({"link", "set", "sxa", "address", "02:00:00:00:00:01"}));
    ASSERT_TRUE(ns.ip({"link", "set", "sxb", "address", "02:00:00:00:00:02"}));
    ASSERT_TRUE(ns.ip({"addr", "add", "169.254.3.4/16", "dev", "sxa"}));
    ASSERT_TRUE(ns.ip({"addr", "add", "169.1.2.3/16", "dev", "sxb"}));
    ASSERT_TRUE(ns.ip({"route", "add", "default", "via", "192.168.77.1", "dev", "sxa"}));
    ASSERT_TRUE(ns.ip({"route", "add", "default", "via", "10.0.0.1", "dev", "sxb", "metric", "200"}));
    // An interface that is down does not count.
    ASSERT_TRUE(ns.ip({"link", "add", "sxc", "type", "veth", "peer", "name", "sxd"}));
    ASSERT_TRUE(ns.ip({"addr", "add", "192.168.99.1/24", "dev", "sxc"}));

    EXPECT_TRUE(ns.runSelf("RDSystemNetworkTest.AdapterListInsideANamespace"));
}

TEST(RDSystemNetworkTest, AutoStartUnderTemporaryConfigHome)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    const QString path = dir.path() + "/autostart/" + QCoreApplication::applicationName() + ".desktop";

    ASSERT_TRUE(RDSystemNetwork::setAutoStart());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(path);
    const QByteArray text = file.readAll();
    file.close();
    const QByteArray exec = "\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n";
    EXPECT_TRUE(text.contains(exec)) << text.constData();

    struct stat before, after;
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &before), 0);
    ASSERT_TRUE(RDSystemNetwork::setAutoStart());
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "the same path is not written again";

    EXPECT_TRUE(RDSystemNetwork::removeAutoStart());
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(RDSystemNetwork::removeAutoStart());

    ASSERT_TRUE(QDir(dir.path()).mkpath("autostart/" + QCoreApplication::applicationName() + ".desktop/x"));
    EXPECT_FALSE(RDSystemNetwork::setAutoStart()) << "a failure is reported";
    EXPECT_FALSE(RDSystemNetwork::removeAutoStart());
    qunsetenv("XDG_CONFIG_HOME");
}

TEST(RDSystemNetworkTest, CaptureDriverCheck)
{
    qputenv("SONARIS_FAKE_NO_CAPTURE_DRIVER", QByteArray("1"));
    EXPECT_FALSE(RDSystemNetwork::isInstalled("npcap"));
    qunsetenv("SONARIS_FAKE_NO_CAPTURE_DRIVER");
    EXPECT_EQ(RDSystemNetwork::isInstalled("NPcap"), RDSystemNetwork::isInstalled("npcap"));
    EXPECT_FALSE(RDSystemNetwork::isInstalled("npcap 1.75")) << "equality, not a prefix";
    EXPECT_FALSE(RDSystemNetwork::isInstalled(""));
}

#include "RDSystemNetworkTest.moc"
