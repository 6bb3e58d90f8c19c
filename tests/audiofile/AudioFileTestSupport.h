#pragma once

#include "KsAudioFileBase.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline void append(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}
inline void appendLe(Bytes& out, uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
inline void appendBe(Bytes& out, uint32_t value, int size) {
    for (int i = size - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A file in the test's temporary folder, removed afterwards.
class TempFile {
public:
    explicit TempFile(const std::string& name);
    ~TempFile();
    void write(const Bytes& bytes) const;
    Bytes read() const;
    const std::string& path() const { return filePath; }

private:
    std::string filePath;
};

// Opens `path` with the reader its name selects and reads every frame.
struct ReadResult {
    uint32_t frames = 0;
    bool read = false;
    std::unique_ptr<KsAudioFileBase> reader;
    std::vector<float> left;
    std::vector<float> right;
};
ReadResult readWhole(const std::string& path);

// The folder beside the test program where the build put the files sox made.
std::string soxFilesFolder();

// A file name as a test name: every character but letters and digits
// becomes '_'.
std::string testNameOf(const std::string& file);
