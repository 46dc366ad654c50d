#include "job/convert/MediaProbe.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "job/JobTexts.h"
#include "job/convert/ProcessRunner.h"
#include "job/lookup/BoundedJson.h"

namespace tarnwick {

namespace {

using Json = nlohmann::json;

// Only what the merge uses: no frames are read, the answer stays small whatever the file.
constexpr std::string_view kProbeEntries =
    "stream=index,codec_type,codec_name,duration:stream_disposition=attached_pic:"
    "stream_tags=DURATION:format=format_name,duration";

// Nesting of the answer: object, streams, stream, disposition or tags.
constexpr int kAnswerDepth = 4;

std::string Text(const Json& object, const char* name) {
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

// "4.000000" (ffprobe's seconds) or "00:00:04.008000000" (a Matroska tag); 0 when neither, or not
// a length.
double Seconds(const std::string& text) {
    if (text.empty()) return 0;
    double seconds = 0;
    int hours = 0, minutes = 0, used = 0;
    if (text.find(':') != std::string::npos) {
        if (std::sscanf(text.c_str(), "%d:%d:%lf%n", &hours, &minutes, &seconds, &used) != 3 ||
            hours < 0 || minutes < 0)
            return 0;
        seconds += (hours * 60.0 + minutes) * 60.0;
    } else {
        char* end = nullptr;
        seconds = std::strtod(text.c_str(), &end);
        used = static_cast<int>(end - text.c_str());
    }
    if (static_cast<std::size_t>(used) != text.size() || !std::isfinite(seconds) || seconds <= 0)
        return 0;
    return seconds;
}

std::optional<TProbedStream> ReadStream(const Json& entry) {
    const auto index = entry.find("index");
    if (!entry.is_object() || index == entry.end() || !index->is_number_integer()) return {};
    TProbedStream stream;
    stream.index = index->get<std::int32_t>();
    if (stream.index < 0) return {};
    stream.type = Text(entry, "codec_type");
    stream.codec = Text(entry, "codec_name");
    stream.seconds = Seconds(Text(entry, "duration"));
    if (const auto tags = entry.find("tags"); stream.seconds == 0 && tags != entry.end() &&
                                              tags->is_object())
        stream.seconds = Seconds(Text(*tags, "DURATION"));
    if (const auto disposition = entry.find("disposition");
        disposition != entry.end() && disposition->is_object()) {
        const auto picture = disposition->find("attached_pic");
        stream.attachedPicture = picture != disposition->end() && picture->is_number_integer() &&
                                 picture->get<std::int64_t>() != 0;
    }
    return stream;
}

}  // namespace

std::optional<TProbedInput> ParseProbeAnswer(std::string_view json) {
    const Json answer = ParseBoundedJson(json, kAnswerDepth);
    if (answer.is_discarded() || !answer.is_object()) return {};
    TProbedInput input;
    double containerSeconds = 0;
    if (const auto format = answer.find("format"); format != answer.end() && format->is_object()) {
        input.container = Text(*format, "format_name");
        containerSeconds = Seconds(Text(*format, "duration"));
    }
    if (const auto streams = answer.find("streams");
        streams != answer.end() && streams->is_array()) {
        for (const Json& entry : *streams)
            if (std::optional<TProbedStream> stream = ReadStream(entry))
                input.streams.push_back(std::move(*stream));
    }
    if (input.streams.size() == 1 && input.streams.front().seconds == 0)
        input.streams.front().seconds = containerSeconds;
    return input;
}

TProbeOutcome ProbeMedia(const std::string& program, const std::string& workDirectory,
                         const std::string& input, const TIdAbortSignal& abort) {
    TProbeOutcome outcome;
    TProcessOptions options;
    options.separateOutput = true;
    options.outputLimit = kProbeAnswerLimit;
    options.timeLimit = kProbeTimeLimit;
    options.abort = &abort;
    TProcessRunner process;
    process.Start(program,
                  {std::string(kProbeProgramName), "-v", "error", "-show_entries",
                   std::string(kProbeEntries), "-of", "json", input},
                  workDirectory, options);
    const TProcessExit exit = process.Wait();
    if (exit.stopped || abort.Aborted()) {
        outcome.stopped = true;
        outcome.reason = kAbortedByUserText;
    } else if (!exit.started || exit.limit != plNone) {
        outcome.reason = exit.reason;
    } else if (exit.exitCode != 0) {
        outcome.reason = process.LastOutputLine();
        if (outcome.reason.empty())
            outcome.reason = "ffprobe could not read " + input;
    } else if (!(outcome.input = ParseProbeAnswer(process.StandardOutput()))) {
        outcome.reason = "ffprobe gave no description of " + input;
    }
    return outcome;
}

}  // namespace tarnwick
