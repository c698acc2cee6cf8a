#include "common/replacing_file.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

bool exists(const std::string& path)
{
    return std::ifstream(path).good();
}

} // namespace

TEST(ReplacingFile, OnlyACommittedFileReplacesTheOldOne)
{
    TempDir dir;
    writeFile(dir.file("out"), "old");
    {
        ReplacingFile file;
        ASSERT_TRUE(file.open(dir.file("out")));
        file.out << "half";
    }  // a run that failed: never committed
    EXPECT_EQ(readFile(dir.file("out")), "old");
    ReplacingFile file;
    ASSERT_TRUE(file.open(dir.file("out")));
    file.out << "new";
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(readFile(dir.file("out")), "new");
    EXPECT_FALSE(exists(file.temporary));
}

TEST(ReplacingFile, ATerminatedRunLeavesNoTemporaryFile)
{
    TempDir dir;
    writeFile(dir.file("out"), "old");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        removeUnfinishedOnSignal();
        ReplacingFile file;
        bool opened = file.open(dir.file("out"));
        std::string name = opened ? file.temporary : "";
        (void)!write(ready[1], name.c_str(), name.size() + 1);
        std::raise(SIGTERM);
        _exit(0);
    }
    char name[4096] = {};
    ASSERT_GT(read(ready[0], name, sizeof name), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_FALSE(exists(name)) << name;
    EXPECT_EQ(readFile(dir.file("out")), "old");
}

TEST(ReplacingFile, AFifoIsWrittenThroughAndStaysAFifo)
{
    TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    std::string heard;
    std::thread reader([&] { heard = readFile(fifo); });
    ReplacingFile file;
    ASSERT_TRUE(file.open(fifo)) << file.problem;
    file.out << "through";
    EXPECT_TRUE(file.commit());
    reader.join();
    EXPECT_EQ(heard, "through");
    struct stat status {};
    ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST(ReplacingFile, LinksThatFormALoopAreRefused)
{
    TempDir dir;
    ASSERT_EQ(symlink("b", dir.file("a").c_str()), 0);
    ASSERT_EQ(symlink("a", dir.file("b").c_str()), 0);
    ReplacingFile file;
    EXPECT_FALSE(file.open(dir.file("a")));
    EXPECT_EQ(file.problem, "its symbolic links form a loop");
}
