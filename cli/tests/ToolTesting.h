// Running the built zorvik binary on archives that real archivers make at test time.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace Zorvik::Cli::Testing {

namespace fs = std::filesystem;

struct ToolResult {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Sets a file's or folder's modification time (seconds since 1970) without following links.
inline void SetModified(const fs::path& path, std::int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

inline std::int64_t ModifiedOf(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return -1;
    return info.st_mtim.tv_sec;
}

// A pseudo-terminal: the tool gets its name as stdin or stderr, the test keeps the other side.
class Terminal {
public:
    // None where no pseudo-terminal can be opened (a minimal container has none).
    static std::unique_ptr<Terminal> Open() {
        const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0) return nullptr;
        auto terminal = std::unique_ptr<Terminal>(new Terminal(fd));
        if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0) return nullptr;
        const int other = ::open(terminal->Name().c_str(), O_RDWR | O_NOCTTY);
        if (other < 0) return nullptr;
        ::close(other);
        return terminal;
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    ~Terminal() { ::close(fd_); }
    std::string Name() const { return ::ptsname(fd_); }
    void Type(const std::string& text) const { ASSERT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size())); }
    // What the tool wrote to it (or echoed) so far.
    std::string Drain() const {
        ::fcntl(fd_, F_SETFL, O_NONBLOCK);
        std::string text;
        char chunk[4096];
        for (ssize_t n; (n = ::read(fd_, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<std::size_t>(n));
        return text;
    }

private:
    explicit Terminal(int fd) : fd_(fd) {}
    int fd_;
};

#define ZORVIK_OPEN_TERMINAL_OR_SKIP(terminal) \
    const auto terminal = Terminal::Open();    \
    if (!terminal) GTEST_SKIP() << "no pseudo-terminal can be opened here (/dev/pts)"

inline bool HaveProgram(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

// A child running zorvik with stdout and stderr going to files; stdin is /dev/null (so that no
// password is ever prompted for) unless another input is named.
class ToolProcess {
public:
    ToolProcess(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment, const fs::path& folder,
                const std::string& input = "/dev/null", const std::string& errors = "")
        : folder_(folder) {
        std::vector<std::string> variables;
        for (char** variable = environ; *variable; ++variable) {
            const std::string text = *variable;
            const std::string name = text.substr(0, text.find('='));
            if (name != "ZORVIK_PASSWORD" && !environment.count(name)) variables.push_back(text);
        }
        for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
        std::vector<char*> argv{const_cast<char*>(ZORVIK_CLI)};
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);
        const std::string out = (folder_ / ".stdout").string(), err = errors.empty() ? (folder_ / ".stderr").string() : errors;
        pid_ = ::fork();
        if (pid_ == 0) {
            const int in = ::open(input.c_str(), O_RDWR | O_NOCTTY);
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | (errors.empty() ? O_TRUNC : O_NOCTTY), 0600);
            if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(folder_.c_str()) != 0)
                ::_exit(127);
            ::execve(ZORVIK_CLI, argv.data(), envp.data());
            ::_exit(127);
        }
    }

    pid_t Pid() const { return pid_; }

    ToolResult Wait() {
        ToolResult result;
        int status = 0;
        if (::waitpid(pid_, &status, 0) == pid_) result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadFile(folder_ / ".stdout");
        if (fs::exists(folder_ / ".stderr")) result.err = ReadFile(folder_ / ".stderr");
        return result;
    }

private:
    fs::path folder_;
    pid_t pid_ = -1;
};

// A scratch folder with a small source tree ("src") of known content and times.
class ToolTest : public ::testing::Test {
protected:
    // Times (seconds since 1970) of the tree, whole and even, as every format keeps them.
    static constexpr std::int64_t kReadmeTime = 1714558830;  // 2024-05-01T10:20:30Z
    static constexpr std::int64_t kNotesTime = 1672628646;   // 2023-01-02T03:04:06Z
    static constexpr std::int64_t kDataTime = 1672531198;    // 2022-12-31T23:59:58Z
    static constexpr std::int64_t kFolderTime = 1623758400;  // 2021-06-15T12:00:00Z

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zorvik-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        WriteFile(Path("src/readme.txt"), "Zorvik sample\n");
        WriteFile(Path("src/docs/notes.txt"), std::string(5000, 'n'));
        WriteFile(Path("src/docs/deep/data.bin"), Noise(70000));
        WriteFile(Path("src/zero.txt"), "");
        fs::create_directories(Path("src/empty"));
        SetModified(Path("src/readme.txt"), kReadmeTime);
        SetModified(Path("src/docs/notes.txt"), kNotesTime);
        SetModified(Path("src/docs/deep/data.bin"), kDataTime);
        SetModified(Path("src/zero.txt"), kNotesTime);
        for (const char* folder : {"src/docs/deep", "src/docs", "src/empty"}) SetModified(Path(folder), kFolderTime);
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Path(const std::string& relative) const { return root_ / relative; }

    static std::string Noise(std::size_t size, std::uint32_t seed = 12345) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 24);
        return bytes;
    }

    // Runs a shell command in folder (default: the scratch root); the test fails when it does.
    void Shell(const std::string& command, const std::string& folder = "") const {
        const std::string line = "cd '" + Path(folder).string() + "' && " + command + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(line.c_str()), 0) << command;
    }

    ToolResult Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment = {}) const {
        return ToolProcess(args, WithTemp(environment), root_).Wait();
    }
    ToolProcess Start(const std::vector<std::string>& args, const std::string& input = "/dev/null", const std::string& errors = "") const {
        return ToolProcess(args, WithTemp({}), root_, input, errors);
    }

    nlohmann::json ListJson(const std::string& archive, const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> args{"list", archive, "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        const ToolResult result = Run(args);
        EXPECT_EQ(result.code, 0) << result.err;
        return result.code == 0 ? nlohmann::json::parse(result.out) : nlohmann::json();
    }

    fs::path root_;

private:
    std::map<std::string, std::string> WithTemp(std::map<std::string, std::string> environment) const {
        environment.emplace("ZORVIK_TEMP", (root_ / ".temp").string());
        return environment;
    }
};

// The paths of a listing, in its order.
inline std::vector<std::string> JsonPaths(const nlohmann::json& listing) {
    std::vector<std::string> paths;
    for (const auto& entry : listing["entries"]) paths.push_back(entry["path"].get<std::string>());
    return paths;
}

// What a folder holds: relative path -> (is folder, content, modification time).
struct TreeNode {
    bool folder = false;
    std::string content;
    std::int64_t modified = 0;
    bool operator==(const TreeNode&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const TreeNode& node) {
    return out << (node.folder ? "folder" : "file of " + std::to_string(node.content.size()) + " bytes") << " at " << node.modified;
}

inline std::map<std::string, TreeNode> TreeOf(const fs::path& folder) {
    std::map<std::string, TreeNode> tree;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        TreeNode node;
        node.folder = item.is_directory();
        if (!node.folder) node.content = ReadFile(item.path());
        node.modified = ModifiedOf(item.path());
        tree[fs::relative(item.path(), folder).generic_string()] = node;
    }
    return tree;
}

}  // namespace Zorvik::Cli::Testing
