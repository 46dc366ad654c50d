#include "job/lookup/YtDlpLookup.h"

#include <cmath>
#include <memory>

#include "core/StrUtils.h"
#include "http/IdURI.h"
#include "job/files/FileNames.h"
#include "job/lookup/BoundedJson.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/MediaCandidates.h"
#include "job/lookup/PageAddresses.h"
#include "job/lookup/RecordTexts.h"

namespace tarnwick {

namespace {

using Json = nlohmann::json;

std::string StringField(const Json& object, const char* name) {
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// A number field as a whole number; -1 when missing, not a number, negative or absurd.
std::int64_t NumberField(const Json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_number()) return -1;
    const double value = found->get<double>();
    return value >= 0 && value < 9e18 ? static_cast<std::int64_t>(std::llround(value)) : -1;
}

bool HoldsPictureAndSound(const Json& format) {
    return StringField(format, "vcodec") != "none" && StringField(format, "acodec") != "none";
}

bool OverHttp(const Json& format) {
    std::string protocol = LowerCase(StringField(format, "protocol"));
    if (protocol.empty()) protocol = LowerCase(TIdURI(StringField(format, "url")).Protocol);
    return (protocol == "http" || protocol == "https") && IsWebAddress(StringField(format, "url"));
}

}  // namespace

std::vector<std::string> YtDlpArguments(std::string_view address) {
    return {std::string(kYtDlpProgramName), "-J", "--no-playlist", "--no-warnings",
            std::string(address)};
}

std::string FindYtDlp(const TYtDlpSettings& settings) {
    if (settings.program.find('/') != std::string::npos) return settings.program;
    return FindProgram({}, settings.program);
}

TLookupRecord ReadYtDlpAnswer(std::string_view json, bool hd) {
    const Json answer = ParseBoundedJson(json);
    if (!answer.is_object()) return FailedRecord(kHelperGarbledHint);
    const Json* video = &answer;
    if (const auto entries = answer.find("entries");
        entries != answer.end() && entries->is_array()) {
        if (entries->empty() || !entries->front().is_object())
            return FailedRecord(kHelperNoFormatHint);
        video = &entries->front();
    }

    // yt-dlp lists the best last; the candidates run from the best down.
    std::vector<const Json*> fitting;
    std::vector<TMediaCandidate> candidates;
    const auto consider = [&](const Json& format) {
        if (!format.is_object() || !HoldsPictureAndSound(format) || !OverHttp(format)) return;
        const std::int64_t height = NumberField(format, "height");
        fitting.push_back(&format);
        candidates.push_back({StringField(format, "url"), {},
                              height > 0 && height <= 100000 ? static_cast<int>(height) : 0});
    };
    if (const auto formats = video->find("formats");
        formats != video->end() && formats->is_array()) {
        for (auto format = formats->crbegin(); format != formats->crend(); ++format)
            consider(*format);
    } else {
        consider(*video);
    }
    if (fitting.empty()) return FailedRecord(kHelperNoFormatHint);
    const Json& format = *fitting[CandidateOrder(candidates, hd).front()];

    TVideoEntries entries;
    entries.author = StringField(*video, "uploader");
    entries.title = StringField(*video, "title");
    if (const std::int64_t duration = NumberField(*video, "duration"); duration >= 0)
        entries.length = LengthText(duration);
    std::int64_t size = NumberField(format, "filesize");
    if (size < 0) size = NumberField(format, "filesize_approx");
    entries.size = SizeText(size);
    entries.filename = SafeFileName(OneLineText(entries.title));
    entries.fileext = SafeFileExtension(StringField(format, "ext"));
    if (const std::string thumbnail = StringField(*video, "thumbnail"); IsWebAddress(thumbnail))
        entries.preview = thumbnail;
    entries.url = StringField(format, "url");
    if (const auto headers = format.find("http_headers");
        headers != format.end() && headers->is_object()) {
        for (const auto& [name, value] : headers->items()) {
            if (!value.is_string()) continue;
            if (SameText(name, "Referer")) entries.referer = value.get<std::string>();
            if (SameText(name, "User-Agent")) entries.useragent = value.get<std::string>();
            if (SameText(name, "Cookie")) entries.cookie = value.get<std::string>();
        }
    }
    return VideoRecord(entries);
}

TLookupRecord RunYtDlp(const TYtDlpSettings& settings, TComponent* owner,
                       std::string_view address, bool hd, const TIdAbortSignal& abort) {
    const auto stopped = [&abort] { return abort.Aborted(); };
    const std::string program = FindYtDlp(settings);
    if (program.empty()) return FailedRecord(kHelperMissingHint);
    if (stopped()) return FailedRecord(kLookupStoppedHint);

    // In the owner's list, named, from before the start to after the reaping.
    auto made = std::make_unique<TYtDlpProcess>(owner);
    made->SetName(std::string(kYtDlpProcessName));
    TScopedComponent<TYtDlpProcess> process(owner, std::move(made));

    TProcessOptions options;
    options.separateOutput = true;
    options.outputLimit = settings.outputLimit;
    options.timeLimit = settings.timeLimit;
    options.memoryLimit = settings.memoryLimit;
    options.abort = &abort;
    TProcessRunner& runner = process->Runner();
    runner.Start(program, YtDlpArguments(address), "/", options);
    const TProcessExit exit = runner.Wait();
    if (exit.stopped || stopped()) return FailedRecord(kLookupStoppedHint);
    if (!exit.started || exit.limit != plNone) return FailedRecord(exit.reason);
    if (exit.signal != 0 || exit.exitCode != 0) {
        // Past its memory bound Python reports a MemoryError; code that cannot report one dies
        // of a signal instead.
        const std::string memory = SizeText(static_cast<std::int64_t>(settings.memoryLimit));
        if (settings.memoryLimit > 0 && runner.Output().find("MemoryError") != std::string::npos)
            return FailedRecord(std::string(kHelperOutOfMemoryHint) + memory + ".");
        std::string why = runner.LastOutputLine();
        // Its request to report the failure to its makers is not for our user.
        why = why.substr(0, why.find("; please report this issue"));
        if (why.empty())
            why = exit.signal != 0 ? Format("ended by signal %d", exit.signal)
                                   : Format("exit status %d", exit.exitCode);
        if (exit.signal != 0 && settings.memoryLimit > 0)
            why += ", perhaps for want of memory (it may take " + memory + ")";
        return FailedRecord(std::string(kHelperFailedHint) + why);
    }
    return ReadYtDlpAnswer(runner.StandardOutput(), hd);
}

}  // namespace tarnwick
