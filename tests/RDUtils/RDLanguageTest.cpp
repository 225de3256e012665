#include "RDLanguage.h"
#include "RDLocalize.h"
#include "RDThread.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <vector>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class Counting : public RDLocalize
{
public:
    int calls = 0;
    QString text;
    std::function<void()> during;
    void localize() override
    {
        ++calls;
        text = RDLanguage::translate("Save");
        if (during)
            during();
    }
};

class LanguageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        RDLanguage::setLanguagePath(dir.path());
        writeFile(dir.filePath("Deutsch.txt"),
                  "\xEF\xBB\xBF\"Save\" = \"Speichern\";\r\n"
                  "a=b=c\r\n"
                  "=x\r\n"
                  "Empty=\r\n"
                  "Open = \"Offnen \"\"quoted\"\" \";\r\n"
                  "open=Oeffnen\r\n"
                  "deutsch=Deutsch (DE)\r\n"
                  "\r\n"
                  "after=ignored\r\n");
        writeFile(dir.filePath("b.txt"), "save=B\n");
        writeFile(dir.filePath("A.txt"), "save=A\n");
        writeFile(dir.filePath(".txt"), "save=hidden\n");
        writeFile(dir.filePath("back\\slash.txt"), "save=unloadable\n");
    }
    void TearDown() override { RDLanguage::initLanguage(QString()); }
    QTemporaryDir dir;
};

} // namespace

TEST_F(LanguageTest, FileRulesAndLookups)
{
    QMap<QString, QString> table;
    ASSERT_TRUE(RDLanguage::loadLanguage("Deutsch", table));
    EXPECT_EQ(table.value("save"), "Speichern");
    EXPECT_FALSE(table.contains("a"));
    EXPECT_EQ(table.value(""), "x");
    EXPECT_TRUE(table.contains("empty"));
    EXPECT_EQ(table.value("open"), "Oeffnen"); // the later line wins
    EXPECT_FALSE(table.contains("after"));
    EXPECT_EQ(table.size(), 5);
    EXPECT_EQ(RDLanguage::trimEntry("  \"Offnen \"\"q\"\" \";; "), "Offnen \"\"q\"\" ");

    EXPECT_TRUE(RDLanguage::initLanguage("Deutsch.txt"));
    EXPECT_EQ(RDLanguage::currentLanguage(), "Deutsch.txt");
    EXPECT_EQ(RDLanguage::translate("SAVE"), "Speichern");
    EXPECT_EQ(RDLanguage::translate("Empty"), "");
    EXPECT_EQ(RDLanguage::translate("Not There"), "Not There");

    for (const char* bad : {"missing", "../Deutsch", "sub/Deutsch", "a\\b", ""}) {
        EXPECT_FALSE(RDLanguage::loadLanguage(bad, table)) << bad;
        EXPECT_TRUE(table.isEmpty());
    }
    // A language without a readable file is still the current one, with every text in English.
    EXPECT_FALSE(RDLanguage::initLanguage("missing"));
    EXPECT_EQ(RDLanguage::currentLanguage(), "missing");
    EXPECT_EQ(RDLanguage::translate("Save"), "Save");
}

TEST_F(LanguageTest, SwitchingRelocalizesLiveObjectsOnce)
{
    RDLanguage::initLanguage("Deutsch");
    Counting first, second;
    auto third = std::make_unique<Counting>();
    // Running the constructor again on the same object keeps one entry.
    const int beforeTwice = RDLocalize::registeredCount();
    {
        alignas(RDLocalize) unsigned char storage[sizeof(RDLocalize)];
        RDLocalize* plain = new (storage) RDLocalize;
        new (storage) RDLocalize;
        EXPECT_EQ(RDLocalize::registeredCount(), beforeTwice + 1);
        plain->~RDLocalize();
        EXPECT_EQ(RDLocalize::registeredCount(), beforeTwice);
    }
    const int before = RDLocalize::registeredCount();
    // The first object destroys the third while the language change runs: it is skipped.
    Counting* thirdRaw = third.get();
    first.during = [&] { third.reset(); };

    RDLanguage::setLanguage("none");
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.calls, 1);
    EXPECT_EQ(first.text, "Save");
    EXPECT_EQ(RDLocalize::registeredCount(), before - 1);
    EXPECT_FALSE(RDLocalize::isRegistered(thirdRaw));

    first.during = nullptr;
    RDLanguage::setLanguage("Deutsch");
    EXPECT_EQ(first.text, "Speichern");
    EXPECT_EQ(second.calls, 2);
}

TEST_F(LanguageTest, LanguagesAreListedByNameIgnoringCase)
{
    RDLanguage::initLanguage("Deutsch");
    QStringList names{"stale"}, display{"stale"};
    RDLanguage::languages(names, display);
    EXPECT_EQ(names, (QStringList{"A", "b", "Deutsch"}));
    EXPECT_EQ(display, (QStringList{"A", "b", "Deutsch (DE)"}));
}

TEST_F(LanguageTest, LookupsRaceLanguageSwitchesSafely)
{
    class Reader : public RDThread
    {
    public:
        std::atomic<int> odd{0};
        std::atomic<long> lookups{0};

    protected:
        void run() override
        {
            while (!isStop()) {
                const QString t = RDLanguage::translate("save");
                if (t != "Speichern" && t != "A" && t != "save")
                    ++odd;
                ++lookups;
            }
        }
    };
    std::vector<std::unique_ptr<Reader>> readers;
    for (int i = 0; i < 4; ++i) {
        readers.push_back(std::make_unique<Reader>());
        ASSERT_TRUE(readers.back()->start());
    }
    // The switches begin only once every reader is looking up, so that they really overlap.
    for (auto& r : readers) {
        for (int waited = 0; r->lookups.load() == 0 && waited < 5000; ++waited)
            RDThread::msleep(1);
        ASSERT_GT(r->lookups.load(), 0);
    }
    for (int i = 0; i < 1000; ++i)
        RDLanguage::setLanguage(i % 3 == 0 ? "Deutsch" : i % 3 == 1 ? "A" : "none");
    for (auto& r : readers) {
        r->stop();
        r->wait();
        EXPECT_EQ(r->odd.load(), 0);
        EXPECT_GT(r->lookups.load(), 0);
    }
}
