#pragma once
// Helpers shared by the POSIX stand-in tests: a scratch folder that is removed afterwards, an
// environment variable set for one test, and whole-file reads for byte-for-byte checks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <sys/xattr.h>

namespace posix_test {

namespace fs = std::filesystem;

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old, had_ = true;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_.c_str(), saved_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_, saved_;
    bool had_ = false;
};

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "unveilo-posix-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~ScratchDir() {
        std::error_code ignored;
        // Read-only leftovers must not keep the folder alive.
        if (!path_.empty()) {
            for (auto it = fs::recursive_directory_iterator(path_, ignored);
                 it != fs::recursive_directory_iterator(); it.increment(ignored))
                fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
            fs::remove_all(path_, ignored);
        }
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline bool set_xattr_text(const std::string& path, const std::string& text) {
    return setxattr(path.c_str(), "user.DOSATTRIB", text.data(), text.size(), 0) == 0;
}

inline std::string get_xattr(const std::string& path) {
    char buffer[256];
    const ssize_t size = lgetxattr(path.c_str(), "user.DOSATTRIB", buffer, sizeof buffer);
    return size < 0 ? std::string("<none>") : std::string(buffer, size_t(size));
}

// Samba's binary record: text and NUL, pad to 2, u16 version, u16 level, pad to 4, fields.
inline std::string samba_record(const std::string& text, uint16_t version, uint32_t first,
                                uint32_t second) {
    std::string out = text;
    out.push_back('\0');
    while (out.size() % 2 != 0) out.push_back('\0');
    auto put16 = [&out](uint16_t v) { out += char(v & 0xFF), out += char(v >> 8); };
    auto put32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
    };
    put16(version);
    put16(version);
    while (out.size() % 4 != 0) out.push_back('\0');
    put32(first);
    put32(second);
    put32(0); // further fields Samba keeps (sizes, times): not ours
    return out;
}

// Every regular file under a folder, by path relative to it, with its bytes.
inline std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && !entry.is_symlink())
            files[fs::relative(entry.path(), root).string()] = read_file(entry.path().string());
    return files;
}

// Removes every UNVEILO_DRIVE_* variable for the life of the object, so that the map under test
// sees only what the test sets.
class CleanDriveEnv {
  public:
    CleanDriveEnv() {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            const std::string name = std::string("UNVEILO_DRIVE_") + letter;
            if (const char* value = std::getenv(name.c_str())) {
                saved_[name] = value;
                unsetenv(name.c_str());
            }
        }
    }
    ~CleanDriveEnv() {
        for (char letter = 'A'; letter <= 'Z'; ++letter)
            unsetenv((std::string("UNVEILO_DRIVE_") + letter).c_str());
        for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
    }

  private:
    std::map<std::string, std::string> saved_;
};

} // namespace posix_test
