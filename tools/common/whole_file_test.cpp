// The whole-file writer and the clean-up of what killed runs left, in this process.
#include "tests/support/child.h"
#include "tools/common/whole_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>

namespace
{

std::set<std::string> names_in(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

std::string contents(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// A write past this many bytes fails with EFBIG while it is set.
struct FileSizeLimit {
    rlimit old{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_DFL);
    }
};

// A failure at each step, and a file dropped before it is committed: the earlier file stays as
// it was and no temporary is left. Only a commit replaces it.
TEST(WholeFile, AFailureAtEachStepLeavesNothingBehind)
{
    TempDir dir;
    const std::string path = dir.path + "/out.png";
    const std::string big(100000, 'x');
    const struct {
        const char *what;
        const char *error; // in the error, after the file's name: the call and the reason
        bool replaced;
    } cases[] = {
        {"the folder is missing", ": open: No such file or directory", false},
        {"a write fails", ": write: File too large", false},
        {"the final name is a folder", ": rename: Is a directory", false},
        {"dropped before the commit", "", false},
        {"committed", "", true},
    };
    for (const auto &c : cases) {
        dir.write("out.png", "earlier");
        std::filesystem::remove_all(dir.path + "/blocked");
        Status s;
        {
            WholeFile f;
            const std::string what = c.what;
            if (what == "the folder is missing") {
                s = f.open(dir.path + "/missing/out.png");
            } else if (what == "a write fails") {
                s = f.open(path);
                FileSizeLimit limit(4096);
                if (s.ok())
                    s = f.write(big.data(), big.size());
                EXPECT_FALSE(f.write("y", 1).ok()) << "a later write fails at once";
            } else if (what == "the final name is a folder") {
                std::filesystem::create_directories(dir.path + "/blocked/x");
                s = f.open(dir.path + "/blocked");
                if (s.ok())
                    s = f.write("new", 3);
                if (s.ok())
                    s = f.commit();
            } else {
                s = f.open(path);
                if (s.ok())
                    s = f.write("new", 3);
                if (s.ok() && c.replaced)
                    s = f.commit();
            }
        }
        EXPECT_EQ(s.message().rfind("cannot write ", 0), *c.error ? 0u : std::string::npos)
            << c.what;
        EXPECT_NE(s.message().find(c.error), std::string::npos) << c.what << ": " << s.message();
        EXPECT_EQ(s.ok(), *c.error == '\0') << c.what << ": " << s.message();
        std::set<std::string> want = {"out.png"};
        if (std::string(c.what) == "the final name is a folder")
            want.insert("blocked");
        EXPECT_EQ(names_in(dir.path), want) << c.what;
        EXPECT_EQ(contents(path), c.replaced ? "new" : "earlier") << c.what;
    }
}

// Readying an output folder removes the temporaries of ours whose lock nobody holds; a live
// writer's, and names that are not ours, stay.
TEST(Temporaries, StaleOnesGoLiveOnesAndOthersStay)
{
    TempDir dir;
    const std::set<std::string> stale = {".res0001.png.99999.0", ".res0002.png.1.12",
                                         ".res01010.png.4242.3"};
    const std::set<std::string> others = {
        ".res0001.png.x.0",  ".res0001.png.1",   "res0001.png.1.2", ".res1.png.1.2",
        ".res0001.vtu.1.2",  ".notes.txt.1.2",   "res0001.png",     ".res0001.png.1.2.3",
        ".res0001.png..1.2", ".res0001.png.1.2x"};
    for (const auto &name : stale)
        dir.write(name, "left by a killed run");
    for (const auto &name : others)
        dir.write(name, "not ours");
    std::filesystem::create_directory(dir.path + "/.res0003.png.7.7"); // a folder is not ours
    WholeFile live;
    ASSERT_TRUE(live.open(dir.path + "/res0005.png").ok());
    ASSERT_TRUE(open_output_folder(dir.path, ".png").ok());
    std::set<std::string> want = others;
    want.insert(".res0003.png.7.7");
    want.insert(temporary_name(dir.path + "/res0005.png", 0).substr(dir.path.size() + 1));
    EXPECT_EQ(names_in(dir.path), want);
    ASSERT_TRUE(live.write("live", 4).ok());
    ASSERT_TRUE(live.commit().ok());
    EXPECT_EQ(contents(dir.path + "/res0005.png"), "live");
}

} // namespace
