#include <climits>
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "support/Logger.h"

using OrvixSDK::Logger;
using OrvixSDK::Singleton;

namespace {

// True when text is "h:m:s.ms" with every part a plain decimal number.
bool isTimeStamp(const std::string& text)
{
    const char separators[] = {':', ':', '.'};
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t start = pos;
        while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])))
            ++pos;
        if (pos == start)
            return false;
        if (part < 3) {
            if (pos >= text.size() || text[pos] != separators[part])
                return false;
            ++pos;
        }
    }
    return pos == text.size();
}

// Checks that log holds exactly the given messages, one line each, every
// line being "time stamp<TAB>message".
void expectLogLines(const std::string& log, const std::vector<std::string>& messages)
{
    size_t pos = 0;
    for (const std::string& message : messages) {
        const size_t end = log.find('\n', pos);
        ASSERT_NE(end, std::string::npos) << "missing line for \"" << message << "\" in:\n" << log;
        const std::string line = log.substr(pos, end - pos);
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        EXPECT_TRUE(isTimeStamp(line.substr(0, tab))) << line;
        EXPECT_EQ(line.substr(tab + 1), message);
        pos = end + 1;
    }
    EXPECT_EQ(pos, log.size()) << "unexpected text after the last line:\n" << log;
}

// Runs each test in a fresh temporary working directory and restores the
// previous one afterwards, also when the test fails.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char buffer[PATH_MAX];
        ASSERT_NE(getcwd(buffer, sizeof(buffer)), nullptr);
        previous_ = buffer;
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        changed_ = true;
    }
    void TearDown() override
    {
        Logger::destroy();
        if (changed_) {
            EXPECT_EQ(chdir(previous_.c_str()), 0);
        }
    }

    std::string logText() const { return OrvixTest::TempDir::read(dir_.path() + "osdk.log"); }

    OrvixTest::TempDir dir_;
    std::string previous_;
    bool changed_ = false;
};

TEST_F(LoggerTest, WritesTimeTabTextPerLineAndTruncatesAnOldLog)
{
    dir_.write("osdk.log", "stale content\n");
    {
        Logger logger;
        ASSERT_TRUE(logger.isOpen());
        EXPECT_TRUE(logger.timer.isRunning());
        logger.write("frame %d took %.1f ms", 42, 3.5);
        logger.write("done");
    }
    expectLogLines(logText(), {"frame 42 took 3.5 ms", "done"});
}

TEST_F(LoggerTest, LinesAreOnDiskBeforeTheLoggerCloses)
{
    Logger logger;
    logger.write("%s", "visible");
    EXPECT_NE(logText().find("\tvisible\n"), std::string::npos);
}

TEST_F(LoggerTest, WriteDoesNothingWhenTheLogCannotBeCreated)
{
    // A directory of the same name makes opening the file fail.
    ASSERT_EQ(mkdir((dir_.path() + "osdk.log").c_str(), 0700), 0);
    Logger logger;
    EXPECT_FALSE(logger.isOpen());
    logger.write("lost %d", 1);
    logger.write(nullptr);
}

TEST_F(LoggerTest, CreateRegistersOneInstanceAndDestroyClearsIt)
{
    EXPECT_EQ(Singleton<Logger>::inst, nullptr) << "nothing registers a logger by itself";
    Logger* first = Logger::create();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Singleton<Logger>::inst, first);
    EXPECT_EQ(Logger::getInstance(), first);
    EXPECT_EQ(Logger::create(), first);

    Logger::getInstance()->write("registered");
    Logger::destroy();
    EXPECT_EQ(Singleton<Logger>::inst, nullptr);
    Logger::destroy();  // nothing registered: harmless
    EXPECT_NE(logText().find("\tregistered\n"), std::string::npos);
}

TEST_F(LoggerTest, DeletingTheRegisteredLoggerUnregistersIt)
{
    Logger* logger = Logger::create();
    delete logger;
    EXPECT_EQ(Singleton<Logger>::inst, nullptr);
}

}  // namespace
