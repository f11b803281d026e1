// The I/O floor of a conversion: one process that reads every input whole
// and writes as many bytes as each document holds, from memory. What ordil
// does beyond this is the conversion itself.
//
//   ordil_floor LIST
//
// LIST has a line per file: input, document, output, separated by tabs.
// bench/run times the whole process, as it times ordil, so that both pay
// for starting; the floor's own preparation is kept to a stat of each
// document and one read of at most 1 MiB. Its two buffers are taken as
// ordil takes its own (platform/memory.h), resident in one call rather than
// a fault per page. Every input is then read in
// blocks of 1 MiB into one buffer, and every output written in blocks of
// 1 MiB from one buffer holding the first bytes of the largest document,
// as ordil writes from its own: copying a 150 MB document from memory that
// has gone cold would make the floor slower than the conversion.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/memory.h"

namespace {

constexpr size_t kBlock = size_t{1} << 20;

struct File {
  std::string input, document, output;
  uintmax_t size = 0;  // of the document
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: ordil_floor LIST\n";
    return 2;
  }
  std::vector<File> files;
  std::ifstream list(argv[1]);
  const File* largest = nullptr;
  for (std::string line; std::getline(list, line);) {
    File f;
    const size_t tab1 = line.find('\t');
    const size_t tab2 = line.find('\t', tab1 + 1);
    if (tab1 == std::string::npos || tab2 == std::string::npos) {
      std::cerr << "ordil_floor: a line without three fields: " << line << "\n";
      return 2;
    }
    f.input = line.substr(0, tab1);
    f.document = line.substr(tab1 + 1, tab2 - tab1 - 1);
    f.output = line.substr(tab2 + 1);
    std::error_code error;
    f.size = std::filesystem::file_size(f.document, error);
    if (error) {
      std::cerr << "ordil_floor: " << f.document << ": " << error.message() << "\n";
      return 1;
    }
    files.push_back(std::move(f));
  }
  for (const File& f : files) {
    if (largest == nullptr || f.size > largest->size) largest = &f;
  }
  ordil::platform::Buffer block;
  block.reserve(kBlock);
  block.prepare(kBlock);
  size_t blockSize = 0;
  if (largest != nullptr) {
    std::FILE* document = std::fopen(largest->document.c_str(), "rb");
    if (document == nullptr) return 1;
    blockSize = std::fread(block.data(), 1, kBlock, document);
    std::fclose(document);
    if (blockSize == 0 && largest->size > 0) return 1;  // it shrank meanwhile
  }
  ordil::platform::Buffer buffer;
  buffer.reserve(kBlock);
  buffer.prepare(kBlock);
  for (const File& f : files) {
    std::FILE* in = std::fopen(f.input.c_str(), "rb");
    if (in == nullptr) return 1;
    while (std::fread(buffer.data(), 1, kBlock, in) > 0) {
    }
    std::fclose(in);
    std::FILE* out = std::fopen(f.output.c_str(), "wb");
    if (out == nullptr) return 1;
    for (uintmax_t left = f.size; left > 0;) {
      const size_t n = left < blockSize ? static_cast<size_t>(left) : blockSize;
      if (std::fwrite(block.data(), 1, n, out) != n) return 1;
      left -= n;
    }
    if (std::fclose(out) != 0) return 1;
  }
  return 0;
}
