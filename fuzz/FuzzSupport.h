// What the fuzz targets share: a private scratch folder for the inputs that the code under test
// reads by name, and the rule that a result code meaning "unexpected failure" is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace fuzzsupport {

// One folder per process under the system temp folder, removed at exit (libFuzzer ends by exit()).
class Scratch {
public:
    static Scratch &Get() {
        static Scratch s;
        return s;
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    const std::string &Dir() const { return dir_; }

    // Writes data to the file called name in the scratch folder and returns its path.
    std::string Put(const std::string &name, std::string_view data) {
        const std::string path = dir_ + "/" + name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.close();
        if (!out)
            Fail("cannot write the input file " + path);
        return path;
    }

    // Empties the folder but keeps it, so that a run starts from the same state each time.
    void Clear() {
        std::error_code ec;
        for (const auto &e : std::filesystem::directory_iterator(dir_, ec))
            std::filesystem::remove_all(e.path(), ec);
    }

    [[noreturn]] static void Fail(const std::string &why) {
        std::fprintf(stderr, "fuzz target: %s\n", why.c_str());
        std::abort();
    }

private:
    Scratch() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorvel-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            Fail("cannot make a scratch folder");
        dir_ = pattern;
    }
    std::string dir_;
};

inline std::string_view AsText(const uint8_t *data, size_t size) {
    return {reinterpret_cast<const char *>(data), size};
}

} // namespace fuzzsupport
