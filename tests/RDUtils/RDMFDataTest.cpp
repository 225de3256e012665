#include "RDFileData.h"
#include "RDMFData.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <deque>
#include <random>
#include <string>

namespace {

std::string readAll(RDData& data)
{
    std::string out;
    char buffer[777];
    int n;
    while ((n = data.read(buffer, sizeof(buffer))) > 0)
        out.append(buffer, static_cast<size_t>(n));
    return out;
}

bool exists(const std::string& path)
{
    return QFile::exists(QString::fromStdString(path));
}

class RDMFDataTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    std::string path(const char* name) const { return m_dir.filePath(name).toStdString(); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(RDMFDataTest, MovesToTheFileWhenTheBlockPassesTheThreshold)
{
    const std::string file = path("body");
    std::string expected;
    {
        RDMFData data(file, 10000);
        const std::string piece(1000, 'x');
        // 4096 and 8192-byte blocks stay within 10000.
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(data.write(piece.data(), 1000), 1000);
            expected += piece;
        }
        EXPECT_FALSE(data.isInFile());
        EXPECT_FALSE(exists(file));
        const std::string tail(300, 'y');
        ASSERT_EQ(data.write(tail.data(), 300), 300); // 8300 held: the block becomes 16384
        expected += tail;
        EXPECT_TRUE(data.isInFile());
        EXPECT_TRUE(exists(file));
        EXPECT_EQ(QFile(QString::fromStdString(file)).size(), 8300);
        EXPECT_EQ(data.size(), 8300);
        EXPECT_EQ(readAll(data), expected);
        // Not ended yet: a writer may still add bytes.
        EXPECT_FALSE(data.isEmpty());
        EXPECT_EQ(data.write("z", 1), 1);
        EXPECT_EQ(data.write(nullptr, 0), 0);
        EXPECT_FALSE(data.isEmpty());
        EXPECT_EQ(readAll(data), "z");
        EXPECT_TRUE(data.isEmpty());
    }
    EXPECT_FALSE(exists(file));
}

TEST_F(RDMFDataTest, SmallThresholdMovesOnTheFirstWrite)
{
    RDMFData data(path("small"), 100);
    EXPECT_EQ(data.write("ab", 2), 2);
    EXPECT_TRUE(data.isInFile());
    EXPECT_EQ(readAll(data), "ab");
}

TEST_F(RDMFDataTest, NoThresholdOrNoPathNeverCreatesAFile)
{
    const std::string big(100000, 'q');
    {
        RDMFData zero(path("zero"), 0);
        RDMFData noPath("", 100);
        RDMFData plain;
        for (RDMFData* d : {&zero, &noPath, &plain}) {
            EXPECT_EQ(d->write(big.data(), static_cast<int>(big.size())), 100000);
            EXPECT_FALSE(d->isInFile());
            EXPECT_EQ(readAll(*d), big);
        }
    }
    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(RDMFDataTest, AnExistingFileIsNeitherEmptiedNorDeleted)
{
    const std::string file = path("taken");
    {
        QFile f(QString::fromStdString(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }
    {
        RDMFData data(file, 100);
        EXPECT_EQ(data.write("abc", 3), 3);
        EXPECT_FALSE(data.isInFile());
        EXPECT_EQ(data.write("def", 3), 3);
        EXPECT_EQ(readAll(data), "abcdef");
    }
    QFile f(QString::fromStdString(file));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("precious"));
}

TEST_F(RDMFDataTest, MissingFolderKeepsEverythingInMemory)
{
    RDMFData data(path("missing/folder/body"), 100);
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        const std::string piece(333, static_cast<char>('a' + i % 26));
        ASSERT_EQ(data.write(piece.data(), 333), 333);
        expected += piece;
    }
    EXPECT_FALSE(data.isInFile());
    EXPECT_EQ(readAll(data), expected);
}

TEST_F(RDMFDataTest, ModelAgainstADequeAcrossTheMove)
{
    std::mt19937 random(1234);
    for (int round = 0; round < 5; ++round) {
        const std::string file = path(("model" + std::to_string(round)).c_str());
        RDMFData data(file, 10000);
        std::deque<char> model;
        bool moved = false;
        for (int op = 0; op < 400; ++op) {
            // Writes outweigh reads so that the held bytes pass the threshold.
            const int kind = static_cast<int>(random() % 6);
            // (A write of 0 bytes would end the data of a file store.)
            const int n = 1 + static_cast<int>(random() % 700);
            if (kind <= 3) {
                std::string piece(static_cast<size_t>(n), '\0');
                for (char& c : piece)
                    c = static_cast<char>(random());
                ASSERT_EQ(data.write(piece.data(), n), n);
                model.insert(model.end(), piece.begin(), piece.end());
            } else if (kind == 4) {
                std::string buffer(static_cast<size_t>(n), '\0');
                const int got = data.read(&buffer[0], n);
                ASSERT_EQ(got, std::min<int>(n, static_cast<int>(model.size())));
                ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, model.begin()));
                model.erase(model.begin(), model.begin() + got);
            } else {
                const int skipped = data.skip(n);
                ASSERT_EQ(skipped, std::min<int>(n, static_cast<int>(model.size())));
                model.erase(model.begin(), model.begin() + skipped);
            }
            ASSERT_EQ(data.size(), static_cast<int>(model.size()));
            moved = moved || data.isInFile();
        }
        EXPECT_TRUE(moved);
        const std::string rest = readAll(data);
        EXPECT_EQ(rest, std::string(model.begin(), model.end()));
    }
}

TEST_F(RDMFDataTest, FileStoreSkipAndEnd)
{
    const std::string file = path("filestore");
    {
        RDFileData data;
        ASSERT_TRUE(data.create(file));
        EXPECT_FALSE(data.isEmpty());
        EXPECT_EQ(data.write("hello world", 11), 11);
        EXPECT_EQ(data.skip(5), 5);
        EXPECT_EQ(data.size(), 6);
        char buffer[16];
        EXPECT_EQ(data.read(buffer, sizeof(buffer)), 6);
        EXPECT_EQ(std::string(buffer, 6), " world");
        EXPECT_EQ(data.read(buffer, sizeof(buffer)), 0);
        EXPECT_FALSE(data.isEmpty());
        EXPECT_EQ(data.write("", 0), 0);
        EXPECT_TRUE(data.isEmpty());
        EXPECT_EQ(data.write("late", 4), 0);
        EXPECT_EQ(data.bytesWritten(), 11);
        EXPECT_EQ(data.bytesRead(), 11);
        RDFileData second;
        EXPECT_FALSE(second.create(file)); // exists already
    }
    // The file store leaves its file to its creator.
    EXPECT_TRUE(exists(file));
}
