// Building comment cache files: the inverse of the record decoding, for the
// generator, the tests, the benchmark and the fuzz seeds.
#ifndef ORDIL_TOOLS_CACHE_BUILDER_H_
#define ORDIL_TOOLS_CACHE_BUILDER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_record.h"

namespace ordil::tools {

// The 8 header bytes our generator writes ("ORDILGEN"); readers skip them.
inline constexpr std::string_view kGeneratedHeader = "ORDILGEN";

// Appends a text length in 7-bit groups, low group first.
void appendTextLength(uint32_t length, std::string* out);

// One comment to be written, owning its fields (which may hold NULs).
struct Comment {
  std::string mail;
  std::string text;
  uint32_t position = 0;
  std::string userId;

  // The comment as a record; valid while the comment lives unchanged.
  CacheRecord record() const { return {mail, text, position, userId}; }
};

// Appends one record. Mail and user id longer than 255 bytes are cut to 255.
void appendRecord(const CacheRecord& record, std::string* out);

// A whole file: the header, then the comments' records.
std::string buildCacheFile(const std::vector<Comment>& comments);

// Parses the generator's text description: one record a line, four fields
// separated by tabs, "position<TAB>user id<TAB>mail<TAB>text". In the
// fields \t \n \r \\ and \xHH stand for a tab, a line feed, a carriage
// return, a backslash and any byte. Lines that are empty or start with # are
// skipped. Returns false with "line N: reason" in *error on bad input.
bool parseDescription(std::string_view description,
                      std::vector<Comment>* records, std::string* error);

// What random records look like.
enum class RandomMix {
  kRealistic,  // short Japanese and English texts, some markup, some long
  kAnyBytes,   // fields of arbitrary bytes, for robustness tests
  kStress,     // markup-heavy, long texts, emoji, controls: the escaper's worst
};

// count records drawn from a generator seeded with seed; the same seed and
// count always give the same records.
std::vector<Comment> randomRecords(uint64_t seed, size_t count,
                                       RandomMix mix);

}  // namespace ordil::tools

#endif  // ORDIL_TOOLS_CACHE_BUILDER_H_
