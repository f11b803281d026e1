#include "driver/batch.h"

#include <algorithm>
#include <memory>
#include <ostream>

#include "driver/batch_plan.h"
#include "driver/batch_report.h"
#include "driver/batch_runner.h"
#include "driver/conversion.h"
#include "platform/console.h"
#include "platform/folder.h"
#include "platform/resources.h"
#include "text/quote.h"

namespace ordil {

namespace {

// Whether the document is there and not older than its cache file, as
// make decides. Only a regular file in the document's own place counts,
// looked at in the folder the conversion would write it in: a link or a
// FIFO planted there, whatever its time, is converted (and refused there).
bool upToDate(const Conversion& c) {
  const auto document = platform::modifiedTime(c.output.name, false, c.output.folder);
  const auto cache = platform::modifiedTime(*c.inputName, true, c.folder);
  return document && cache && *document >= *cache;
}

// Converts one file of the list, or finds it up to date, or, when its
// document is that of an item before it (sharesWith), reports that. A
// document written whole is left in *finished, to be made durable with
// others and put in place; the result then counts it as in place. Throws
// nothing: what is thrown becomes the file's outcome.
Result convertItem(const Item& item, const Item* sharesWith, const Item* replacesCache,
                   const Places& places, const BatchOptions& options, Converter* converter,
                   Finished* finished) noexcept {
  Result result;
  try {
    Conversion conversion = conversionFor(item, places);
    result.inputPath = conversion.inputPath;
    if (sharesWith != nullptr) {
      const Conversion first = conversionFor(*sharesWith, places);
      result.outcome.problems.push_back(
          {result.inputPath, Status::io("same document as " + quotedName(first.inputPath) + " (" +
                                        quotedName(first.outputPath) + "); not converted")});
      return result;
    }
    if (replacesCache != nullptr && !options.check) {
      result.outcome.problems.push_back(
          {result.inputPath,
           Status::io("not converted: its document would replace the cache file " +
                      quotedName(conversionFor(*replacesCache, places).inputPath))});
      return result;
    }
    const auto notConverted = [&](const Status& why) {
      result.outcome.problems.push_back({result.inputPath, why.withContext("not converted")});
      return result;
    };
    auto folder = std::make_unique<platform::Folder>();
    if (item.named == Item::kFound) {
      if (const Status opened = places.openFolder(item, folder.get()); !opened.ok()) {
        return notConverted(opened);
      }
      conversion.folder = folder.get();
      conversion.output.folder = folder.get();
    }
    std::unique_ptr<platform::Folder> outputFolder;
    if (options.check) {
      conversion.output.kind = OutputTarget::Kind::kNothing;
    } else if (places.outputRoot) {
      outputFolder = std::make_unique<platform::Folder>();
      if (const Status opened = places.openOutputFolder(item, outputFolder.get()); !opened.ok()) {
        return notConverted(opened);
      }
      conversion.output.folder = outputFolder.get();
    }
    if (options.update && !options.check && upToDate(conversion)) {
      result.skipped = true;
    } else {
      result.outcome = converter->convert(conversion, options.check ? nullptr : &finished->document);
      if (finished->document != nullptr) {
        finished->folder = outputFolder != nullptr ? std::move(outputFolder) : std::move(folder);
        finished->outputPath = std::move(conversion.outputPath);
      }
    }
  } catch (...) {
    const std::exception_ptr thrown = std::current_exception();
    if (result.inputPath.empty()) {
      try {
        result.inputPath = displayPath(places.input(item));  // its name failed to be made
      } catch (...) {
      }
    }
    addFailure(thrown, result.inputPath, &result.outcome);
  }
  return result;
}

// The conversion of the plan's files.
class PlannedConversion final : public ItemConversion {
 public:
  PlannedConversion(const BatchPlan& plan, const BatchOptions& options)
      : plan_(plan), options_(options) {}

  Result convert(size_t i, Converter* converter, Finished* finished) override {
    return convertItem(plan_.items[i], plan_.sharesWith(i), plan_.replacesCache(i), plan_.places,
                       options_, converter, finished);
  }

 private:
  const BatchPlan& plan_;
  const BatchOptions& options_;
};

}  // namespace

int runBatch(const BatchOptions& options, const RunContext& context) {
  if (!options.outputDir.empty()) {
    // A link along it that another user planted would lead the documents
    // into a folder of the runner's.
    if (const Status links = platform::checkLinksAlong(platform::nativeFileName(options.outputDir));
        !links.ok()) {
      printProblem(*context.err, options.outputDir, links.message());
      return kExitIncomplete;
    }
  }
  FileSystemWalker walker;
  const BatchPlan plan = makePlan(options, &walker);
  ExitStatus status;
  for (const Problem& p : plan.problems) {
    printProblem(*context.err, p.path, p.status.message());
    status.add(p.status);
  }
  const size_t openFiles = platform::allowManyOpenFiles();
  Reporter reporter(plan.items.size(), options, context, platform::standardErrorIsTerminal());
  // At most the threads allowed convert: a job's large input takes a
  // second one only where the jobs leave one spare.
  const unsigned allowed = std::min<unsigned>(
      options.jobs != 0 ? options.jobs : platform::processorCount(), kMaxJobs);
  const auto jobs =
      static_cast<unsigned>(std::min<size_t>(allowed, std::max<size_t>(plan.items.size(), 1)));
  const Converter::Threads threads = 2 * jobs <= allowed ? Converter::Threads::kTwoForLargeInputs
                                                         : Converter::Threads::kOne;
  PlannedConversion conversion(plan, options);
  runConversions(plan.items.size(), jobs, groupDocumentsFor(openFiles, jobs), &conversion,
                 &reporter, threads);
  reporter.end();

  if (reporter.undecodable()) context.presentFailureMessage(kFailureCaption, kFailureMessage);
  if (reporter.anyIncomplete() || !outputWasWritten(context)) status.addIncomplete();
  return status.value();
}

}  // namespace ordil
