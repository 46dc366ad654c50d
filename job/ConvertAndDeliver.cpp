#include "job/ConvertAndDeliver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "core/StrUtils.h"
#include "job/ConversionTable.h"
#include "job/ConverterProcess.h"
#include "job/Delivery.h"
#include "job/JobState.h"
#include "job/YouTubeDownloader.h"

namespace tarnwick {

namespace {

constexpr std::string_view kDurationPrefix = "Duration: ";
constexpr std::string_view kOutTimePrefix = "out_time_us=";

// Options put after the program name: never read the terminal, no periodic statistics on the
// error output, machine-readable progress on the progress descriptor.
std::vector<std::string> ConverterArguments(const std::string& commandLine) {
    std::vector<std::string> argv = SplitCommandLine(commandLine);
    const std::vector<std::string> extra = {
        "-nostdin", "-nostats", "-progress",
        "pipe:" + std::to_string(TConverterProcess::kProgressDescriptor)};
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
    if (output.find('\n', at) == std::string_view::npos) return 0;
    if (std::sscanf(text, "%d:%d:%lf%c", &hours, &minutes, &seconds, &comma) != 4 || comma != ',')
        return 0;
    const double micros = ((hours * 60.0 + minutes) * 60.0 + seconds) * 1e6;
    return micros > 0 ? static_cast<std::int64_t>(micros) : 0;
}

bool NonEmptyFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

}  // namespace

struct TConvertAndDeliver::Impl {
    Impl(TDeliveryRequest r, TDeliveryObserver& o) : request(std::move(r)), observer(o) {}

    TDeliveryResult Run();
    TDeliveryResult Convert(const std::string& fileName, const std::string& extension);
    TDeliveryResult Deliver(const std::string& source, const std::string& destinationName,
                            std::string_view savedText);
    void ReportProgress(std::string_view line, const TConverterProcess& process);

    TDeliveryRequest request;
    TDeliveryObserver& observer;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    std::mutex processMutex;  // guards process, which Stop reaches from any thread
    TConverterProcess* process = nullptr;
    std::int64_t durationMicros = 0;
    std::int64_t outTimeMicros = 0;
    double lastFraction = -1;
};

TDeliveryResult TConvertAndDeliver::Impl::Run() {
    // Made safe here as well: these become paths and words of a command line.
    const std::string fileName = SafeFileName(request.fileName);
    const std::string extension = SafeFileExtension(request.fileExtension);
    if (request.formatIndex == 0) {
        const std::string source = request.workDirectory + "/" + SourceFileName(extension);
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
    return Convert(fileName, extension);
}

TDeliveryResult TConvertAndDeliver::Impl::Convert(const std::string& fileName,
                                                  const std::string& extension) {
    TDeliveryResult result;
    result.statusText = kDecodingAbortedText;
    const std::int32_t format = request.formatIndex;
    const std::string command = BuildConverterCommand(format, request.qualityIndex, extension);
    if (command.empty()) {
        result.reason = Format("no conversion for format %d and quality %d", format,
                               request.qualityIndex);
        return result;
    }
    observer.DeliveryStatus(std::string(kDecodingInProgressText));

    // A file left by an earlier job under the output name must never pass for this job's.
    const std::string output = request.workDirectory + "/" + ConvertedFileName(format, extension);
    if (::unlink(output.c_str()) < 0 && errno != ENOENT) {
        const int error = errno;
        result.reason = "cannot remove the old " + output + ": " + std::strerror(error);
        return result;
    }
    const std::string program = FindConverter(request.programDirectory);
    if (program.empty()) {
        result.reason = "ffmpeg was not found in the program's folder or on the PATH";
        return result;
    }

    TConverterProcess process;
    {
        std::lock_guard lock(processMutex);
        this->process = &process;
    }
    if (stop.load()) process.Stop();
    process.Start(program, ConverterArguments(command), request.workDirectory);
    const TProcessExit exit =
        process.Wait([&](std::string_view line) { ReportProgress(line, process); });
    {
        std::lock_guard lock(processMutex);
        this->process = nullptr;
    }

    if (exit.stopped || stop.load()) {
        result.reason = kAbortedByUserText;
    } else if (!exit.started) {
        result.reason = exit.reason;
    } else if (exit.signal != 0) {
        result.reason = Format("ffmpeg was ended by signal %d (%s)", exit.signal,
                               strsignal(exit.signal));
    } else if (exit.exitCode != 0) {
        result.reason = process.LastOutputLine();
        if (result.reason.empty())
            result.reason = Format("ffmpeg exited with status %d", exit.exitCode);
    } else if (!NonEmptyFile(output)) {
        result.reason = "ffmpeg wrote no output";
    } else {
        return Deliver(output, fileName + "." + std::string(TargetExtension(format)), kSavedText);
    }
    return result;
}

TDeliveryResult TConvertAndDeliver::Impl::Deliver(const std::string& source,
                                                  const std::string& destinationName,
                                                  std::string_view savedText) {
    TDeliveryResult result;
    const TDeliveryOutcome outcome =
        DeliverFile(source, request.saveDirectory, destinationName, stop);
    result.delivered = outcome.delivered;
    result.reason = outcome.stopped ? std::string(kAbortedByUserText) : outcome.reason;
    if (outcome.delivered) {
        result.statusText = savedText;
        result.destination = request.saveDirectory + "/" + destinationName;
    } else if (outcome.stopped && request.formatIndex != 0) {
        result.statusText = kDecodingAbortedText;
    } else {
        result.statusText = kNotSavedText;
    }
    return result;
}

void TConvertAndDeliver::Impl::ReportProgress(std::string_view line,
                                              const TConverterProcess& process) {
    if (line.starts_with(kOutTimePrefix)) {
        // "N/A" before the first frame reads as 0.
        outTimeMicros = std::strtoll(std::string(line.substr(kOutTimePrefix.size())).c_str(),
                                     nullptr, 10);
        return;
    }
    if (!line.starts_with("progress=")) return;
    if (durationMicros == 0) durationMicros = ParseDuration(process.Output());
    if (durationMicros == 0) return;
    double fraction = static_cast<double>(outTimeMicros) / static_cast<double>(durationMicros);
    if (line == "progress=end" || fraction > 1) fraction = 1;
    if (fraction < 0) fraction = 0;
    if (fraction == lastFraction) return;
    lastFraction = fraction;
    observer.ConversionProgress(fraction);
}

TConvertAndDeliver::TConvertAndDeliver(TDeliveryRequest request, TDeliveryObserver& observer)
    : impl_(std::make_unique<Impl>(std::move(request), observer)) {}

TConvertAndDeliver::~TConvertAndDeliver() {
    Stop();
    Join();
}

void TConvertAndDeliver::Start() {
    impl_->thread = std::thread([impl = impl_.get()] {
        const TDeliveryResult result = impl->Run();
        impl->observer.DeliveryFinished(result);
        impl->finished.store(true);
    });
}

void TConvertAndDeliver::Stop() {
    impl_->stop.store(true);
    std::lock_guard lock(impl_->processMutex);
    if (impl_->process) impl_->process->Stop();
}

void TConvertAndDeliver::Join() {
    if (impl_->thread.joinable()) impl_->thread.join();
}

bool TConvertAndDeliver::Finished() const noexcept { return impl_->finished.load(); }

}  // namespace tarnwick
