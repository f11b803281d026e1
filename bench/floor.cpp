// The I/O floor of a folder conversion: one process that reads every input
// whole and writes as many bytes as each document holds, from memory. What
// ordil --batch does beyond this is the conversion itself.
//
//   ordil_floor LIST
//
// LIST has a line per file: input, document, output, separated by tabs. The
// documents are read first (not timed); then every input is read and every
// output written. The outputs are written in blocks of 1 MiB from one
// buffer, as ordil writes from its own: copying a 150 MB document from
// memory that has gone cold would make the floor slower than the
// conversion. Prints the seconds the reading and writing took.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: ordil_floor LIST\n";
    return 2;
  }
  struct File {
    std::string input, output;
    size_t size;  // of the document
  };
  std::vector<File> files;
  constexpr size_t kBlock = size_t{1} << 20;
  std::ifstream list(argv[1]);
  std::string block;
  for (std::string line; std::getline(list, line);) {
    std::istringstream fields(line);
    File f;
    std::string document;
    std::getline(fields, f.input, '\t');
    std::getline(fields, document, '\t');
    std::getline(fields, f.output, '\t');
    std::string bytes = readWhole(document);
    f.size = bytes.size();
    if (block.size() < kBlock && bytes.size() > block.size()) block = bytes.substr(0, kBlock);
    files.push_back(std::move(f));
  }
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  const auto start = std::chrono::steady_clock::now();
  for (const File& f : files) {
    std::FILE* in = std::fopen(f.input.c_str(), "rb");
    if (in == nullptr) return 1;
    while (std::fread(buffer.get(), 1, 1 << 20, in) > 0) {
    }
    std::fclose(in);
    std::FILE* out = std::fopen(f.output.c_str(), "wb");
    if (out == nullptr) return 1;
    for (size_t left = f.size; left > 0;) {
      const size_t n = left < block.size() ? left : block.size();
      std::fwrite(block.data(), 1, n, out);
      left -= n;
    }
    if (std::fclose(out) != 0) return 1;
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.6f\n", took.count());
  return 0;
}
