#pragma once
// A fresh folder under the system's temporary directory for one test, removed with everything in it.

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define QM_TEST_PID _getpid()
#else
#include <unistd.h>
#define QM_TEST_PID getpid()
#endif

class TempDir
{
public:
    TempDir()
    {
        static std::atomic<int> counter{0};
        const std::string name =
            "quillmark-test-" + std::to_string(QM_TEST_PID) + "-" + std::to_string(counter.fetch_add(1));
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // The folder's path with the platform's separator at its end.
    std::string Path() const
    {
        return path_.string() + static_cast<char>(std::filesystem::path::preferred_separator);
    }
    std::string File(const std::string &name) const { return Path() + name; }
    const std::filesystem::path &FsPath() const { return path_; }
    // The names in the folder, sorted: what a test expects to be left there.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

inline void WriteBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
