#include "AudioFileTestSupport.h"

#include "DynamicLibrary.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

TempFile::TempFile(const std::string& name)
    : filePath(testing::TempDir() + "ks-" +
               testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + name) {}

TempFile::~TempFile() {
    std::remove(filePath.c_str());
}

void TempFile::write(const Bytes& bytes) const {
    std::ofstream out(filePath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes TempFile::read() const {
    std::ifstream in(filePath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

ReadResult readWhole(const std::string& path) {
    ReadResult result;
    result.frames = createReaderForPath(result.reader, path);
    if (result.frames == 0)
        return result;
    result.left.assign(result.frames, -9.0f);
    result.right.assign(result.frames, -9.0f);
    result.read = result.reader->readSamples({result.left.data(), result.right.data()});
    return result;
}

std::string soxFilesFolder() {
    return platform::executableDirectory() + platform::pathSeparator() + "audio" +
           platform::pathSeparator();
}

std::string testNameOf(const std::string& file) {
    std::string name = file;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    }
    return name;
}
