// Micro-benchmarks: decoding one record and writing one chat element, for
// typical text lengths, in English (ASCII) and Japanese (3-byte UTF-8).
#include <benchmark/benchmark.h>

#include <string>

#include "cache/cache_record.h"
#include "tools/cache_builder.h"
#include "xml/comment_xml_writer.h"

namespace {

using ordil::CacheRecord;

std::string textOf(size_t bytes, bool japanese) {
  const std::string unit = japanese ? "こんにちは" : "hello world ";
  std::string text;
  while (text.size() + unit.size() <= bytes) text += unit;
  text.append(bytes - text.size(), 'a');
  return text;
}

ordil::tools::Comment sampleComment(size_t textBytes, bool japanese) {
  return {"shita red", textOf(textBytes, japanese), 123456, "Hn3Jk8QwEr5TyU7iOp0AsD"};
}

void BM_DecodeRecord(benchmark::State& state) {
  std::string bytes;
  ordil::tools::appendRecord(sampleComment(static_cast<size_t>(state.range(0)), true).record(), &bytes);
  CacheRecord record;
  for (auto _ : state) {
    ordil::Status status;
    const char* end = ordil::decodeRecord(bytes.data(), bytes.data() + bytes.size(), &record, &status);
    benchmark::DoNotOptimize(end);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeRecord)->Arg(10)->Arg(40)->Arg(200);

void BM_AppendChat(benchmark::State& state) {
  const ordil::tools::Comment comment =
      sampleComment(static_cast<size_t>(state.range(0)), state.range(1) != 0);
  const CacheRecord record = comment.record();
  std::string out;
  out.reserve(1 << 16);
  uint32_t number = 1;
  for (auto _ : state) {
    out.clear();
    ordil::appendChat(number++, record, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(record.text.size()));
}
BENCHMARK(BM_AppendChat)
    ->ArgNames({"text", "japanese"})
    ->Args({10, 0})->Args({40, 0})->Args({200, 0})
    ->Args({10, 1})->Args({40, 1})->Args({200, 1});

}  // namespace

BENCHMARK_MAIN();
