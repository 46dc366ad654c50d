#include "job/convert/ConvertAndDeliver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "core/StrUtils.h"
#include "job/JobTexts.h"
#include "job/convert/ConversionTable.h"
#include "job/convert/MediaProbe.h"
#include "job/convert/ProcessRunner.h"
#include "job/convert/StreamMerge.h"
#include "job/files/Delivery.h"
#include "job/files/FileNames.h"

namespace tarnwick {

namespace {

// The input's dump has its duration on a line of its own; the metadata lines before it are
// indented further, so a title cannot pass for it.
constexpr std::string_view kDurationPrefix = "\n  Duration: ";
constexpr std::string_view kOutTimePrefix = "out_time_us=";
constexpr std::string_view kProgressEndLine = "progress=end";

// Words in the converter's output that say the output file was not written whole. ffmpeg says
// so and still exits 0 when the disk fills up ("Error writing trailer of video.avi: No space
// left on device").
constexpr std::array<std::string_view, 9> kWriteErrorMarks = {
    "Error writing trailer",
    "Error closing file",
    "av_interleaved_write_frame():",
    "Error muxing a packet",
    "Error submitting a packet to the muxer",
    "No space left on device",
    "Disk quota exceeded",
    "File too large",
    "Input/output error",
};

// The reasons a conversion fails with, for the user's hint.
constexpr const char* kNoConversionReason = "no conversion for format %d and quality %d";
constexpr std::string_view kConverterMissingReason =
    "ffmpeg was not found in the program's folder or on the PATH";
constexpr const char* kSignalReason = "ffmpeg was ended by signal %d (%s)";
constexpr const char* kExitStatusReason = "ffmpeg exited with status %d";
constexpr std::string_view kNoEndReason = "ffmpeg did not report the end of the conversion";
constexpr const char* kShortOutputReason =
    "ffmpeg converted only %.1f of the video's %.1f seconds";
constexpr std::string_view kNoOutputReason = "ffmpeg wrote no output";
constexpr std::string_view kProbeMissingReason =
    "ffprobe was not found in the program's folder or on the PATH";
constexpr std::string_view kNoStreamsReason = "the work files hold neither picture nor sound";

// Options put after the program name: never read the terminal, no periodic statistics on the
// error output, machine-readable progress on the progress descriptor.
std::vector<std::string> WithProgressOptions(std::vector<std::string> argv) {
    const std::vector<std::string> extra = {
        "-nostdin", "-nostats", "-progress",
        "pipe:" + std::to_string(TProcessRunner::kProgressDescriptor)};
    argv.insert(argv.begin() + 1, extra.begin(), extra.end());
    return argv;
}

// The first input's length from the converter's "Duration: HH:MM:SS.cc," line, in microseconds;
// 0 when not (yet) known.
std::int64_t ParseDuration(std::string_view output) {
    const std::size_t at = output.find(kDurationPrefix);
    if (at == std::string_view::npos) return 0;
    const char* text = output.data() + at + kDurationPrefix.size();
    int hours = 0, minutes = 0;
    double seconds = 0;
    char comma = 0;
    // The end of the line must be there, or the seconds may still be cut.
    if (output.find('\n', at + 1) == std::string_view::npos) return 0;
    if (std::sscanf(text, "%d:%d:%lf%c", &hours, &minutes, &seconds, &comma) != 4 || comma != ',')
        return 0;
    const double micros = ((hours * 60.0 + minutes) * 60.0 + seconds) * 1e6;
    return micros > 0 ? static_cast<std::int64_t>(micros) : 0;
}

// The first line of the converter's output that tells of a write error; empty when none.
std::string WriteErrorLine(std::string_view output) {
    for (std::size_t start = 0; start < output.size();) {
        std::size_t end = output.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = output.size();
        const std::string_view line = output.substr(start, end - start);
        // Indented lines are the input's dump, whose metadata may say anything.
        const bool indented = !line.empty() && (line[0] == ' ' || line[0] == '\t');
        for (const std::string_view mark : kWriteErrorMarks)
            if (!indented && line.find(mark) != std::string_view::npos) return std::string(line);
        start = end + 1;
    }
    return {};
}

bool NonEmptyFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

}  // namespace

bool MergesInputs(const TDeliveryRequest& request) {
    return request.formatIndex == 0 && (request.streamed || request.inputs.size() > 1);
}

struct TConvertAndDeliver::Impl {
    Impl(TDeliveryRequest r, TDeliveryObserver& o, TIdAbortSignal* a)
        : request(std::move(r)), observer(o), stop(a ? *a : ownStop) {}

    TDeliveryResult Run();
    // Run, or when it raises, "Video file could not be saved." with the reason.
    TDeliveryResult RunToResult();
    TDeliveryResult Convert(const std::string& fileName, const std::string& extension,
                            const std::vector<std::string>& inputs);
    TDeliveryResult Merge(const std::string& fileName, const std::vector<std::string>& inputs);
    // Probes the inputs, and keeps the streams the converter is to read (all of them for a merge)
    // with the longest one's length as the duration to cover. False, with the reason, when one
    // cannot be read or they make no whole video.
    bool MeasureStreams(const std::vector<std::string>& inputs, bool merge,
                        std::vector<TMergeStream>& streams, std::string& reason);
    // Runs the converter with command until it has written output whole; false, with the
    // reason and nothing left under output's name, otherwise.
    bool RunConverter(std::vector<std::string> command, const std::string& output,
                      std::string& reason);
    // Why the converter's run gave no whole output (empty: it did).
    std::string FailureReason(const TProcessExit& exit, const TProcessRunner& process,
                              const std::string& output) const;
    TDeliveryResult Deliver(const std::string& source, const std::string& destinationName,
                            std::string_view savedText);
    void ReportProgress(std::string_view line, const TProcessRunner& process);

    TDeliveryRequest request;
    TDeliveryObserver& observer;
    std::function<void(TDeliveryStep)> stepHook;
    std::thread thread;
    // Stop's abort (the job's, or the task's own): it kills the converter (registered for the
    // span of the process) and ends a copy into the save directory.
    TIdAbortSignal ownStop;
    TIdAbortSignal& stop;
    std::atomic<bool> finished{false};
    std::int64_t durationMicros = 0;
    std::int64_t outTimeMicros = 0;
    bool endReported = false;
    double lastFraction = -1;
};

TDeliveryResult TConvertAndDeliver::Impl::RunToResult() {
    try {
        return Run();
    } catch (const std::exception& e) {
        TDeliveryResult result;
        result.statusText = kNotSavedText;
        result.reason = e.what();
        return result;
    }
}

TDeliveryResult TConvertAndDeliver::Impl::Run() {
    // Made safe here as well: these become paths and words of a command line.
    const std::string fileName = SafeFileName(request.fileName);
    const std::string extension = SafeFileExtension(request.fileExtension);
    const std::vector<std::string> inputs =
        request.inputs.empty() ? std::vector<std::string>{SourceFileName(extension)}
                               : request.inputs;
    if (MergesInputs(request)) return Merge(fileName, inputs);
    if (request.formatIndex == 0) {
        const std::string source = request.workDirectory + "/" + inputs.front();
        if (!NonEmptyFile(source)) {
            TDeliveryResult result;
            result.statusText = kNotSavedText;
            result.reason = "the download left no file";
            return result;
        }
        const std::string delivered = request.deliveredExtension.empty()
                                          ? extension
                                          : SafeFileExtension(request.deliveredExtension);
        return Deliver(source, fileName + "." + delivered, "");
    }
    return Convert(fileName, extension, inputs);
}

TDeliveryResult TConvertAndDeliver::Impl::Convert(const std::string& fileName,
                                                  const std::string& extension,
                                                  const std::vector<std::string>& inputs) {
    TDeliveryResult result;
    result.statusText = kDecodingAbortedText;
    const std::int32_t format = request.formatIndex;
    std::vector<std::string> command =
        ConverterCommand(format, request.qualityIndex, inputs, extension);
    if (command.empty()) {
        result.reason = Format(kNoConversionReason, format, request.qualityIndex);
        return result;
    }
    observer.DeliveryStatus(std::string(kDecodingInProgressText));
    std::vector<TMergeStream> streams;
    if (inputs.size() > 1 && !MeasureStreams(inputs, false, streams, result.reason)) return result;
    const std::string output = request.workDirectory + "/" + ConvertedFileName(format, extension);
    if (!RunConverter(std::move(command), output, result.reason)) return result;
    return Deliver(output, fileName + "." + std::string(TargetExtension(format)), kSavedText);
}

TDeliveryResult TConvertAndDeliver::Impl::Merge(const std::string& fileName,
                                                const std::vector<std::string>& inputs) {
    TDeliveryResult result;
    result.statusText = kNotSavedText;
    observer.DeliveryStatus(std::string(kMergingInProgressText));
    std::vector<TMergeStream> streams;
    if (!MeasureStreams(inputs, true, streams, result.reason)) return result;
    const std::string_view container = MergeContainer(streams);
    const std::string name = MergedFileName(container);
    if (!RunConverter(MergeCommand(inputs, streams, container, name),
                      request.workDirectory + "/" + name, result.reason))
        return result;
    return Deliver(request.workDirectory + "/" + name, fileName + "." + std::string(container),
                   kSavedText);
}

bool TConvertAndDeliver::Impl::MeasureStreams(const std::vector<std::string>& inputs, bool merge,
                                              std::vector<TMergeStream>& streams,
                                              std::string& reason) {
    const std::string program = FindProgram(request.programDirectory, kProbeProgramName);
    if (program.empty()) {
        reason = kProbeMissingReason;
        return false;
    }
    std::vector<TProbedInput> probed;
    for (const std::string& input : inputs) {
        TProbeOutcome outcome = ProbeMedia(program, request.workDirectory, input, stop);
        if (!outcome.input) {
            reason = std::move(outcome.reason);
            return false;
        }
        probed.push_back(std::move(*outcome.input));
    }
    streams = merge ? MergeStreams(probed) : ConversionStreams(probed);
    if (streams.empty()) reason = kNoStreamsReason;
    else reason = ShortStreamReason(streams);
    durationMicros = static_cast<std::int64_t>(LongestSeconds(streams) * 1e6);
    return reason.empty();
}

bool TConvertAndDeliver::Impl::RunConverter(std::vector<std::string> command,
                                            const std::string& output, std::string& reason) {
    // A file left by an earlier job under the output name must never pass for this job's.
    if (::unlink(output.c_str()) < 0 && errno != ENOENT) {
        const int error = errno;
        reason = "cannot remove the old " + output + ": " + std::strerror(error);
        return false;
    }
    const std::string program = FindProgram(request.programDirectory, kConverterProgramName);
    if (program.empty()) {
        reason = kConverterMissingReason;
        return false;
    }
    TProcessRunner process;
    TProcessOptions options;
    options.progressPipe = true;
    options.silenceLimit = std::chrono::milliseconds(request.converterSilenceLimit);
    options.abort = &stop;
    if (stepHook) stepHook(dsConversion);
    process.Start(program, WithProgressOptions(std::move(command)), request.workDirectory,
                  options);
    const TProcessExit exit =
        process.Wait([&](std::string_view line) { ReportProgress(line, process); });
    if (durationMicros == 0) durationMicros = ParseDuration(process.Output());
    reason = FailureReason(exit, process, output);
    if (reason.empty()) return true;
    // What a failed conversion wrote is no file of the user's.
    ::unlink(output.c_str());
    return false;
}

std::string TConvertAndDeliver::Impl::FailureReason(const TProcessExit& exit,
                                                    const TProcessRunner& process,
                                                    const std::string& output) const {
    if (exit.stopped || stop.Aborted()) return std::string(kAbortedByUserText);
    if (!exit.started || exit.limit != plNone) return exit.reason;
    if (exit.signal != 0) return Format(kSignalReason, exit.signal, strsignal(exit.signal));
    if (exit.exitCode != 0) {
        std::string line = process.LastOutputLine();
        return line.empty() ? Format(kExitStatusReason, exit.exitCode) : line;
    }
    if (std::string line = WriteErrorLine(process.Output()); !line.empty()) return line;
    if (!endReported) return std::string(kNoEndReason);
    if (durationMicros > 0 &&
        static_cast<double>(outTimeMicros) < kLeastCoverage * static_cast<double>(durationMicros))
        return Format(kShortOutputReason, static_cast<double>(outTimeMicros) / 1e6,
                      static_cast<double>(durationMicros) / 1e6);
    if (!NonEmptyFile(output)) return std::string(kNoOutputReason);
    return {};
}

TDeliveryResult TConvertAndDeliver::Impl::Deliver(const std::string& source,
                                                  const std::string& destinationName,
                                                  std::string_view savedText) {
    TDeliveryResult result;
    if (stepHook) stepHook(dsDelivery);
    const TDeliveryOutcome outcome =
        DeliverFile(source, request.saveDirectory, destinationName, stop);
    result.delivered = outcome.delivered;
    result.reason = outcome.stopped ? std::string(kAbortedByUserText) : outcome.reason;
    if (outcome.delivered) {
        result.statusText = savedText;
        result.destination = outcome.destination;
    } else if (outcome.stopped && request.formatIndex != 0) {
        result.statusText = kDecodingAbortedText;
    } else {
        result.statusText = kNotSavedText;
    }
    return result;
}

void TConvertAndDeliver::Impl::ReportProgress(std::string_view line,
                                              const TProcessRunner& process) {
    if (line.starts_with(kOutTimePrefix)) {
        // "N/A" before the first frame reads as 0.
        outTimeMicros = std::strtoll(std::string(line.substr(kOutTimePrefix.size())).c_str(),
                                     nullptr, 10);
        return;
    }
    if (!line.starts_with("progress=")) return;
    if (line == kProgressEndLine) endReported = true;
    if (durationMicros == 0) durationMicros = ParseDuration(process.Output());
    if (durationMicros == 0) return;
    double fraction = static_cast<double>(outTimeMicros) / static_cast<double>(durationMicros);
    if (line == kProgressEndLine || fraction > 1) fraction = 1;
    if (fraction < 0) fraction = 0;
    if (fraction == lastFraction) return;
    lastFraction = fraction;
    observer.ConversionProgress(fraction);
}

TConvertAndDeliver::TConvertAndDeliver(TDeliveryRequest request, TDeliveryObserver& observer,
                                       TIdAbortSignal* abort)
    : impl_(std::make_unique<Impl>(std::move(request), observer, abort)) {}

TConvertAndDeliver::~TConvertAndDeliver() {
    Stop();
    Join();
}

void TConvertAndDeliver::Start() {
    impl_->thread = std::thread([impl = impl_.get()] {
        const TDeliveryResult result = impl->RunToResult();
        try {
            impl->observer.DeliveryFinished(result);
        } catch (...) {
            // The observer's own failure; the thread must still end.
        }
        impl->finished.store(true);
    });
}

void TConvertAndDeliver::Stop() { impl_->stop.Abort(); }

void TConvertAndDeliver::Join() {
    if (impl_->thread.joinable()) impl_->thread.join();
}

bool TConvertAndDeliver::Finished() const noexcept { return impl_->finished.load(); }

void TConvertAndDeliver::SetStepHook(std::function<void(TDeliveryStep)> hook) {
    impl_->stepHook = std::move(hook);
}

}  // namespace tarnwick
