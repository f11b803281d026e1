// Micro-benchmarks: decoding one record and writing one chat element, for
// typical text lengths, in English (ASCII) and Japanese (3-byte UTF-8); and
// each path of the escaper over the texts and user ids of the realistic and
// stress profiles.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cache/cache_record.h"
#include "tools/cache_builder.h"
#include "xml/chat_format.h"
#include "xml/xml_escape.h"

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

// Escapes the fields of 10,000 generated comments, text and user id, with
// one kernel; range(0) is the profile (0 realistic, 1 stress), range(1) the
// kernel (0 portable, 1 sse2, 2 avx2).
void BM_Escape(benchmark::State& state) {
  const auto mix = state.range(0) == 0 ? ordil::tools::RandomMix::kRealistic
                                       : ordil::tools::RandomMix::kStress;
  const std::vector<const ordil::EscapeKernel*> kernels = ordil::availableEscapeKernels();
  if (static_cast<size_t>(state.range(1)) >= kernels.size()) {
    state.SkipWithError("this processor lacks the kernel");
    return;
  }
  const ordil::EscapeKernel& kernel = *kernels[static_cast<size_t>(state.range(1))];
  const std::vector<ordil::tools::Comment> comments = ordil::tools::randomRecords(14, 10000, mix);
  size_t bytes = 0;
  size_t longest = 0;
  for (const auto& c : comments) {
    bytes += c.text.size() + c.userId.size();
    longest = std::max({longest, c.text.size(), c.userId.size()});
  }
  std::string out(ordil::maxEscapedSize(longest), '\0');
  for (auto _ : state) {
    for (const auto& c : comments) {
      benchmark::DoNotOptimize(kernel.text(c.text, nullptr, out.data()));
      benchmark::DoNotOptimize(kernel.attribute(c.userId, nullptr, out.data()));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(comments.size()));
}
BENCHMARK(BM_Escape)
    ->ArgNames({"stress", "kernel"})
    ->Args({0, 0})->Args({0, 1})->Args({0, 2})->Args({1, 0})->Args({1, 1})->Args({1, 2});

}  // namespace

BENCHMARK_MAIN();
