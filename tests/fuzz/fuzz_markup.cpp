// Markup tokenizer and layout with a fixed-width measurer, at fuzzer-chosen sizes and alignments.
//
// Each input is laid out on a thread with a small stack, so that work growing with the nesting depth
// on the stack overflows within the fuzzer's input sizes: the program's UI thread has 1 MB, and the
// sanitizers' frames are several times larger than a release build's.
#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "fuzz_input.h"
#include "theme/markup.h"

namespace {
class FixedWidthMeasurer final : public tarnell::TextMeasurer {
  public:
    tarnell::TextSize Measure(std::u16string_view text, const tarnell::MarkupFont& font) override {
        const int height = font.height < 0 ? -font.height : font.height;
        const int perChar = (font.style != 0) ? 8 : 7;
        return {static_cast<int>(text.size()) * perChar, height + 3};
    }
};

struct Input {
    const uint8_t* data;
    size_t size;
};

void LayOut(const Input* job) {
    const Input& input = *job;
    tarnell::fuzz::Pieces in(input.data, input.size);
    tarnell::MarkupOptions options;
    options.width = in.NextByte() * 3;
    options.height = in.NextByte();
    options.borderLeft = in.NextByte() % 8;
    options.borderTop = in.NextByte() % 8;
    options.autoBreak = in.NextByte() & 1;
    const uint8_t align = in.NextByte();
    options.lineHorzAlign = static_cast<tarnell::THorzAlign>(align % 3);
    options.overallHorzAlign = static_cast<tarnell::THorzAlign>((align / 3) % 3);
    options.lineVertAlign = static_cast<tarnell::TVertAlign>((align / 9) % 3);
    options.overallVertAlign = static_cast<tarnell::TVertAlign>((align / 27) % 3);
    tarnell::MarkupFont font;
    font.height = -static_cast<int>(in.NextByte() % 40);
    const std::u16string text = in.NextText(true);

    tarnell::ParseMarkup(text, options.autoBreak);
    FixedWidthMeasurer measurer;
    const auto layout = tarnell::LayoutMarkup(text, font, options, measurer);
    for (const auto& line : layout.lines)
        for (const auto& run : line.runs)
            if (run.width < 0 || run.height < 0) __builtin_trap();
}

// One thread with a small stack lays out every input, handed over one at a time (a thread per input
// would cost most of the fuzzer's speed).
class SmallStackWorker {
  public:
    SmallStackWorker() {
        constexpr size_t kStackBytes = 256 * 1024;
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, kStackBytes);
        pthread_t thread;
        if (pthread_create(&thread, &attributes, &SmallStackWorker::Main, this) != 0) __builtin_trap();
        pthread_attr_destroy(&attributes);
        pthread_detach(thread);  // lives as long as the fuzzing process
    }

    void Run(const Input& input) {
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = &input;
        changed_.notify_all();
        changed_.wait(lock, [this] { return job_ == nullptr; });
    }

  private:
    static void* Main(void* self) {
        auto* worker = static_cast<SmallStackWorker*>(self);
        std::unique_lock<std::mutex> lock(worker->mutex_);
        for (;;) {
            worker->changed_.wait(lock, [worker] { return worker->job_ != nullptr; });
            LayOut(worker->job_);
            worker->job_ = nullptr;
            worker->changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    const Input* job_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never destroyed: its thread waits on it until the process ends.
    static SmallStackWorker& worker = *new SmallStackWorker;
    worker.Run(Input{data, size});
    return 0;
}
