// The platform seam on the real file system: what may be read, what may be replaced, how
// temporaries are named, kept and removed.
#include "../test_folder.h"
#include "base/platform.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace plotmint::platform {
namespace {

class Folder : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = plotmint_test::test_folder("plotmint-platform-");
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // Resolved, so paths compare equal to what realpath gives.
        dir_ = fs::canonical(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return path(name);
    }
    std::string fifo(const std::string& name) const {
        EXPECT_EQ(::mkfifo(path(name).c_str(), 0600), 0);
        return path(name);
    }
    std::string socket_file(const std::string& name) const {
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string p = path(name);
        EXPECT_LT(p.size(), sizeof addr.sun_path);
        std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
        EXPECT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        ::close(s);
        return p;
    }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(dir_)) out.insert(e.path().filename().string());
        return out;
    }
    static std::string slurp(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
};

// The pid of a process that has ended and been reaped.
long dead_pid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

// ---------------------------------------------------------------------------------------
// Reading

enum class Kind { regular, fifo, directory, device, socket, missing, link_to_regular, link_to_fifo };

struct OpenCase {
    const char* name;
    Kind kind;
    const char* error;  // empty when the open must succeed
};
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class OpenRegularFile : public Folder, public ::testing::WithParamInterface<OpenCase> {
protected:
    std::string make(Kind kind) {
        switch (kind) {
            case Kind::regular: return write("table", "color\n");
            case Kind::fifo: return fifo("fifo");
            case Kind::directory: return dir_.string();
            case Kind::device: return "/dev/null";
            case Kind::socket: return socket_file("sock");
            case Kind::missing: return path("missing");
            case Kind::link_to_regular:
                write("table", "color\n");
                fs::create_symlink(path("table"), path("link"));
                return path("link");
            case Kind::link_to_fifo:
                fifo("fifo");
                fs::create_symlink(path("fifo"), path("link"));
                return path("link");
        }
        return {};
    }
};

// A FIFO without a writer would block open() (or the first read) for good; the test itself
// would hang on a regression, so it runs the open in a child that is killed after a while.
TEST_P(OpenRegularFile, RefusesAllButRegularFilesWithoutBlocking) {
    const std::string p = make(GetParam().kind);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe_fds[0]);
        std::string error;
        std::FILE* f = fopen_regular_file(p, error);
        std::string report;
        if (f) {
            const int flags = ::fcntl(::fileno(f), F_GETFL);
            char buf[16] = {};
            const size_t n = std::fread(buf, 1, sizeof buf, f);
            report = std::string("ok ") + ((flags & O_NONBLOCK) ? "nonblocking " : "") + std::string(buf, n);
            std::fclose(f);
        } else {
            report = "error " + error;
        }
        (void)!::write(pipe_fds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipe_fds[1]);
    std::string report;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ::close(pipe_fds[0]);
            FAIL() << "opening " << p << " blocked";
        }
        ::usleep(10000);
    }
    char buf[256];
    for (ssize_t n; (n = ::read(pipe_fds[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
    ::close(pipe_fds[0]);
    if (*GetParam().error == '\0')
        EXPECT_EQ(report, "ok color\n");
    else
        EXPECT_EQ(report, std::string("error ") + GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, OpenRegularFile,
    ::testing::Values(OpenCase{"regular", Kind::regular, ""}, OpenCase{"fifo", Kind::fifo, "not a regular file"},
                      OpenCase{"directory", Kind::directory, "not a regular file"},
                      OpenCase{"device", Kind::device, "not a regular file"},
                      OpenCase{"socket", Kind::socket, "not a regular file"},
                      OpenCase{"missing", Kind::missing, "No such file or directory"},
                      OpenCase{"link_to_regular", Kind::link_to_regular, ""},
                      OpenCase{"link_to_fifo", Kind::link_to_fifo, "not a regular file"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// ---------------------------------------------------------------------------------------
// Identity and containment

TEST_F(Folder, SameFileComparesDeviceAndInodeWhateverTheSpelling) {
    const std::string a = write("a.g", "1 2 3\n");
    const std::string b = write("b.g", "1 2 3\n");
    fs::create_hard_link(a, path("hard.g"));
    fs::create_symlink("a.g", path("soft.g"));
    EXPECT_TRUE(same_file(a, a));
    EXPECT_TRUE(same_file(a, (dir_ / "." / "a.g").string()));
    EXPECT_TRUE(same_file(a, path("hard.g")));
    EXPECT_TRUE(same_file(path("soft.g"), a));
    EXPECT_FALSE(same_file(a, b)) << "equal contents are not one file";
    EXPECT_FALSE(same_file(a, path("missing.g")));
    EXPECT_FALSE(same_file(path("missing.g"), path("missing.g"))) << "nothing is not the same as nothing";
    ASSERT_TRUE(file_id(a));
    EXPECT_EQ(file_id(a), file_id(path("hard.g")));
}

TEST_F(Folder, ResolvesInsideFollowsLinksToTheirEnd) {
    fs::create_directories(dir_ / "tables");
    fs::create_directories(dir_ / "tables2");
    const std::string tables = path("tables");
    write("tables/tone-a.ktc", "gray\n");
    write("secret", "password\n");
    write("tables2/tone-b.ktc", "gray\n");
    fs::create_symlink("tone-a.ktc", path("tables/tone-in.ktc"));
    fs::create_symlink(path("secret"), path("tables/tone-out.ktc"));
    fs::create_symlink("../tables2/tone-b.ktc", path("tables/tone-sibling.ktc"));
    // The folder itself reached through a link still counts as the folder.
    fs::create_symlink(tables, path("tables-link"));

    EXPECT_TRUE(resolves_inside(path("tables/tone-a.ktc"), tables));
    EXPECT_TRUE(resolves_inside(path("tables/tone-in.ktc"), tables));
    EXPECT_TRUE(resolves_inside(path("tables-link/tone-a.ktc"), tables));
    EXPECT_TRUE(resolves_inside(path("tables/tone-a.ktc"), path("tables-link")));
    EXPECT_FALSE(resolves_inside(path("tables/tone-out.ktc"), tables));
    EXPECT_FALSE(resolves_inside(path("tables/tone-sibling.ktc"), tables)) << "a name prefix is not a folder";
    EXPECT_FALSE(resolves_inside(path("tables/../secret"), tables));
    EXPECT_FALSE(resolves_inside(path("tables/missing.ktc"), tables));
    EXPECT_FALSE(resolves_inside(tables, tables));
}

// ---------------------------------------------------------------------------------------
// Replacing

TEST_F(Folder, ReplaceTargetAcceptsOnlyRegularFilesAndLinksToThem) {
    const std::string regular = write("graph.emf", "old");
    fs::create_symlink("graph.emf", path("link.emf"));
    fs::create_symlink("nowhere.emf", path("dangling.emf"));
    fs::create_symlink(fifo("fifo"), path("link-to-fifo.emf"));
    fs::create_directories(dir_ / "folder.emf");
    socket_file("sock.emf");

    std::string error;
    EXPECT_EQ(replace_target(regular, error), regular);
    EXPECT_EQ(replace_target(path("new.emf"), error), path("new.emf"));
    EXPECT_EQ(replace_target(path("link.emf"), error), regular) << "the link's target is replaced";

    const struct {
        std::string path;
        const char* reason;
    } refused[] = {
        {"/dev/null", "not a regular file"},
        {path("fifo"), "not a regular file"},
        {path("folder.emf"), "not a regular file"},
        {path("sock.emf"), "not a regular file"},
        {path("dangling.emf"), "a symbolic link to nothing"},
        {path("link-to-fifo.emf"), "a symbolic link to something that is not a regular file"},
    };
    for (const auto& r : refused) {
        error.clear();
        EXPECT_FALSE(replace_target(r.path, error)) << r.path;
        EXPECT_EQ(error, r.reason) << r.path;
    }
}

TEST_F(Folder, TemporaryNamesCarryThePidAndCannotBeGuessed) {
    const std::string target = path("graph.emf");
    std::string error;
    auto a = create_temporary(target, error);
    auto b = create_temporary(target, error);
    ASSERT_TRUE(a && b) << error;
    const std::regex shape(std::regex_replace(target, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                           R"(\.plotmint-tmp-)" + std::to_string(::getpid()) + "-[0-9a-f]{16}");
    EXPECT_TRUE(std::regex_match(a->path, shape)) << a->path;
    EXPECT_TRUE(std::regex_match(b->path, shape)) << b->path;
    EXPECT_NE(a->path, b->path);
    // The random parts of two names share no long run: they are not a counter.
    EXPECT_NE(a->path.substr(a->path.size() - 8), b->path.substr(b->path.size() - 8));
    EXPECT_TRUE(fs::is_regular_file(a->path));
    discard_temporary(*a);
    discard_temporary(*b);
    EXPECT_EQ(names(), std::set<std::string>{});
}

TEST_F(Folder, CommitKeepsThePermissionBitsOfTheReplacedFile) {
    for (const mode_t mode : {0600, 0640, 0755, 0444}) {
        const std::string target = write("table.ktc", "old");
        ASSERT_EQ(::chmod(target.c_str(), mode), 0);
        std::string error;
        auto temp = create_temporary(target, error);
        ASSERT_TRUE(temp) << error;
        ASSERT_EQ(::write(temp->fd, "new", 3), 3);
        keep_permissions(temp->fd, target);
        ASSERT_TRUE(commit_temporary(*temp, target, error)) << error;
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
        EXPECT_EQ(slurp(target), "new");
        EXPECT_EQ(names(), std::set<std::string>{"table.ktc"});
        fs::remove(target);
    }
}

TEST_F(Folder, CommitRefusesWhatCameToStandWhereTheTargetWas) {
    const std::string target = path("graph.emf");
    std::string error;
    auto temp = create_temporary(target, error);
    ASSERT_TRUE(temp) << error;
    fifo("graph.emf");
    EXPECT_FALSE(commit_temporary(*temp, target, error));
    EXPECT_EQ(error, "not a regular file");
    struct stat st {};
    ASSERT_EQ(::lstat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(names(), std::set<std::string>{"graph.emf"}) << "the temporary is gone";
}

TEST_F(Folder, StaleTemporariesOfEndedProcessesAloneAreRemoved) {
    const long dead = dead_pid();
    ASSERT_FALSE(process_alive(dead));
    ASSERT_TRUE(process_alive(::getpid()));
    const std::string random = "0123456789abcdef";
    const std::string stale = "graph.emf.plotmint-tmp-" + std::to_string(dead) + "-" + random;
    const std::string stale_table = "tone-a.ktc.plotmint-tmp-" + std::to_string(dead) + "-" + random;
    const std::string live = "graph.emf.plotmint-tmp-" + std::to_string(::getppid()) + "-" + random;
    const std::set<std::string> kept_names = {
        live,
        "graph.emf.plotmint-tmp-" + std::to_string(dead) + "-0123",               // not our shape
        "graph.emf.plotmint-tmp-" + std::to_string(dead) + "-0123456789ABCDEF",   // not our shape
        "graph.emf.tmp" + std::to_string(dead) + "-0",                            // someone else's
        "notes.txt",
    };
    write(stale, "partial");
    write(stale_table, "partial");
    for (const auto& n : kept_names) write(n, "keep");
    // A link of the right shape is not a temporary this program made.
    const std::string stale_link = "link.emf.plotmint-tmp-" + std::to_string(dead) + "-" + random;
    fs::create_symlink("notes.txt", path(stale_link));
    std::set<std::string> expected = kept_names;
    expected.insert(stale_link);
    if (::geteuid() == 0) {
        // Another user's leftover is theirs to clear.
        const std::string foreign = "foreign.emf.plotmint-tmp-" + std::to_string(dead) + "-" + random;
        write(foreign, "theirs");
        ASSERT_EQ(::chown(path(foreign).c_str(), 12345, 12345), 0);
        expected.insert(foreign);
    }

    remove_stale_temporaries(path("graph.emf"));
    EXPECT_EQ(names(), expected);
    for (const auto& n : kept_names) EXPECT_EQ(slurp(path(n)), "keep") << n;
}

// ---------------------------------------------------------------------------------------
// Signals

struct SignalCase {
    const char* name;
    int sig;
};
void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class CleanupOnSignal : public Folder, public ::testing::WithParamInterface<SignalCase> {};

// A child makes a temporary, reports its name and waits; the signal must remove the file
// and still end the child by that signal (so a shell sees the usual status).
TEST_P(CleanupOnSignal, RemovesRegisteredTemporariesAndDiesOfTheSignal) {
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const std::string target = path("graph.emf");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe_fds[0]);
        install_cleanup_handlers();
        install_cleanup_handlers();  // a second call changes nothing
        std::string error;
        auto a = create_temporary(target, error);
        auto b = create_temporary(path("tone-x.ktc"), error);
        auto gone = create_temporary(path("other"), error);
        if (!a || !b || !gone) ::_exit(3);
        discard_temporary(*gone);
        (void)!::write(pipe_fds[1], "r", 1);
        for (;;) ::pause();
    }
    ::close(pipe_fds[1]);
    char ready = 0;
    ASSERT_EQ(::read(pipe_fds[0], &ready, 1), 1);
    ::close(pipe_fds[0]);
    EXPECT_EQ(names().size(), 2u);
    ASSERT_EQ(::kill(child, GetParam().sig), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), GetParam().sig);
    EXPECT_EQ(names(), std::set<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Signals, CleanupOnSignal,
                         ::testing::Values(SignalCase{"SIGINT", SIGINT}, SignalCase{"SIGTERM", SIGTERM},
                                           SignalCase{"SIGHUP", SIGHUP}),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

TEST_F(Folder, IgnoredSignalStaysIgnored) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGHUP, SIG_IGN);  // as nohup starts a program
        install_cleanup_handlers();
        ::raise(SIGHUP);
        ::_exit(7);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

// A module that loads hands out its symbols; one that does not, or a symbol it lacks, comes
// back as nullptr with the reason, never a crash.
TEST_F(Folder, ModulesLoadOrSayWhyNot) {
    std::string error;
    void* libc = open_module("libc.so.6", error);
    ASSERT_NE(libc, nullptr) << error;
    void* getpid_address = module_symbol(libc, "getpid", error);
    ASSERT_NE(getpid_address, nullptr) << error;
    pid_t (*own_getpid)() = nullptr;
    std::memcpy(&own_getpid, &getpid_address, sizeof own_getpid);
    EXPECT_EQ(own_getpid(), ::getpid());

    error.clear();
    EXPECT_EQ(module_symbol(libc, "plotmint_no_such_symbol", error), nullptr);
    EXPECT_NE(error.find("plotmint_no_such_symbol"), std::string::npos) << error;

    const std::string missing = path("missing.so");
    const std::string not_elf = write("text.so", std::string(256, 'x'));
    const std::string with_nul = std::string("libc.so.6\0", 10) + "x";
    for (const std::string& bad : {missing, not_elf, with_nul}) {
        error.clear();
        EXPECT_EQ(open_module(bad, error), nullptr) << bad;
        EXPECT_NE(error.find(bad.substr(0, bad.find('\0'))), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace plotmint::platform
