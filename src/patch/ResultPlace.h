#pragma once
// Where a patch's result goes once every check has passed: a file that takes
// the image's place, with its backup (patch/ImageUpdate.h), or memory (below).

#include "io/Writer.h"
#include "patch/PatchApplication.h"

#include <functional>
#include <optional>
#include <string>

namespace tarnic {

class ResultPlace {
  public:
    virtual ~ResultPlace() = default;

    // Once the patch has passed every check: asks the question there is,
    // announces the work and opens the writer. Declined when the answer is
    // no; on failure, the outcome to report.
    virtual std::optional<ApplyOutcome> startWriting() = 0;
    // Where the result is written, whole, and finished.
    virtual Writer &writer() = 0;
    // Once the writer is finished (or failed): Applied, or why not, with the
    // system's reason in `result`.
    virtual ApplyOutcome putInPlace(bool finished, ApplyResult &result) = 0;
};

// The result in memory: a patch and an image given as bytes (a web page's),
// applied with the same checks as files.
class MemoryResult final : public ResultPlace {
  public:
    // `confirm`, where given, is asked before anything is written; false
    // declines.
    explicit MemoryResult(std::function<bool()> confirm = {}) : confirm_(std::move(confirm)) {}

    std::optional<ApplyOutcome> startWriting() override {
        if (confirm_ && !confirm_())
            return ApplyOutcome::Declined;
        return std::nullopt;
    }
    Writer &writer() override { return writer_; }
    ApplyOutcome putInPlace(bool finished, ApplyResult &result) override {
        if (finished)
            return ApplyOutcome::Applied;
        result.systemError = writer_.errorString();
        return ApplyOutcome::WriteFailed;
    }

    // The result, once Applied.
    const std::string &bytes() const { return writer_.bytes(); }

  private:
    std::function<bool()> confirm_;
    MemoryWriter writer_;
};

} // namespace tarnic
