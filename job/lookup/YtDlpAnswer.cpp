#include "job/lookup/YtDlpAnswer.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/StrUtils.h"
#include "job/files/FileNames.h"
#include "job/lookup/BoundedJson.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/MediaStreams.h"
#include "job/lookup/PageAddresses.h"
#include "job/lookup/RecordTexts.h"

namespace tarnwick {

namespace {

using Json = nlohmann::json;

// One format of the answer as the record names its stream.
struct TFormatStream {
    std::string url;
    std::string protocol;
    std::string codecs;
    std::vector<std::string> fragments;  // "address" or "address first-last"
};

// The longest protocol name a hint repeats.
constexpr std::size_t kProtocolNameLimit = 40;

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

// The picture's codec, then the sound's, as yt-dlp names them; "none" and unknown left out.
std::string FormatCodecs(const Json& format) {
    std::string codecs;
    for (const char* name : {"vcodec", "acodec"}) {
        const std::string codec = StringField(format, name);
        if (codec.empty() || codec == "none") continue;
        if (!codecs.empty()) codecs += ',';
        codecs += codec;
    }
    return codecs;
}

// The fragment's entry: its absolute address, and its byte range when it names one; empty when
// either cannot be used.
std::string FragmentEntry(const Json& fragment, const std::string& base) {
    if (!fragment.is_object()) return {};
    const std::string url = StringField(fragment, "url");
    const std::string path = StringField(fragment, "path");
    if (url.empty() && path.empty()) return {};
    std::string entry = url.empty() ? ResolveAddress(base, path) : ResolveAddress(url, url);
    const auto range = fragment.find("range");
    if (entry.empty() || range == fragment.end() || range->is_null()) return entry;
    if (!range->is_string() || !ReadFragmentRange(range->get_ref<const std::string&>())) return {};
    return entry + ' ' + range->get<std::string>();
}

// The fragments of a DASH format; the reason when they cannot be fetched.
std::string ReadFragments(const Json& format, TFormatStream& stream) {
    const auto list = format.find("fragments");
    if (list == format.end() || !list->is_array() || list->empty())
        return std::string(kHelperFragmentsHint);
    if (list->size() > kMaxStreamFragments)
        return std::string(kHelperTooManyFragmentsHint) + std::to_string(kMaxStreamFragments) + ".";
    const std::string base = StringField(format, "fragment_base_url");
    stream.fragments.reserve(list->size());
    // The same bytes twice are never two pieces of a stream: a yt-dlp that drops the byte ranges
    // of a manifest's segment list names one file again and again.
    std::unordered_set<std::string> named;
    for (const Json& fragment : *list) {
        std::string entry = FragmentEntry(fragment, base);
        if (entry.empty() || !named.insert(entry).second) return std::string(kHelperFragmentsHint);
        stream.fragments.push_back(std::move(entry));
    }
    // The fragments are what is fetched; the record still names the stream by one address.
    if (!IsWebAddress(stream.url))
        stream.url = stream.fragments.front().substr(0, stream.fragments.front().find(' '));
    return {};
}

// The format as a stream the fetch stage takes; the reason when it cannot be.
std::string ReadFormat(const Json& format, TFormatStream& stream) {
    if (!format.is_object()) return std::string(kHelperNoFormatHint);
    stream.url = StringField(format, "url");
    stream.codecs = FormatCodecs(format);
    std::string protocol = LowerCase(StringField(format, "protocol"));
    if (protocol.empty()) protocol = AddressProtocol(stream.url);
    if (protocol.empty()) return std::string(kHelperNoFormatHint);
    if (protocol == "http_dash_segments") {
        stream.protocol = kFragmentsProtocol;
        return ReadFragments(format, stream);
    }
    if (protocol == "m3u8" || protocol == "m3u8_native") {
        stream.protocol = kHlsProtocol;
    } else if (protocol == "http" || protocol == "https") {
        // The address's own scheme, which may differ in case or where yt-dlp followed it.
        stream.protocol = AddressProtocol(stream.url);
    } else {
        return std::string(kHelperProtocolHint) +
               OneLineText(protocol.substr(0, kProtocolNameLimit)) + ".";
    }
    return IsWebAddress(stream.url) ? std::string() : std::string(kHelperNoFormatHint);
}

// The request headers the format asks for, where entries has none yet.
void ReadHeaders(const Json& format, TVideoEntries& entries) {
    const auto headers = format.find("http_headers");
    if (headers == format.end() || !headers->is_object()) return;
    for (const auto& [name, value] : headers->items()) {
        std::string* field = SameText(name, "Referer")      ? &entries.referer
                             : SameText(name, "User-Agent") ? &entries.useragent
                             : SameText(name, "Cookie")     ? &entries.cookie
                                                            : nullptr;
        if (field && field->empty() && value.is_string()) *field = value.get<std::string>();
    }
}

TVideoEntries Description(const Json& video) {
    TVideoEntries entries;
    entries.author = StringField(video, "uploader");
    entries.title = StringField(video, "title");
    if (const std::int64_t duration = NumberField(video, "duration"); duration >= 0)
        entries.length = LengthText(duration);
    entries.filename = SafeFileName(OneLineText(entries.title));
    entries.fileext = SafeFileExtension(StringField(video, "ext"));
    if (const std::string thumbnail = StringField(video, "thumbnail"); IsWebAddress(thumbnail))
        entries.preview = thumbnail;
    return entries;
}

// The bytes of all formats together; -1 when one of them does not say.
std::int64_t FormatsSize(const std::vector<const Json*>& formats) {
    std::int64_t total = 0;
    for (const Json* format : formats) {
        std::int64_t size = NumberField(*format, "filesize");
        if (size < 0) size = NumberField(*format, "filesize_approx");
        if (size < 0 || total > INT64_MAX - size) return -1;
        total += size;
    }
    return total;
}

void AddStream(TLookupRecord& record, const TFormatStream& stream, std::string_view protocolEntry,
               std::string_view codecsEntry, std::string_view fragmentEntry) {
    if (stream.protocol != AddressProtocol(stream.url))
        record.Add(std::string(protocolEntry), stream.protocol);
    if (!stream.codecs.empty()) record.Add(std::string(codecsEntry), OneLineText(stream.codecs));
    for (const std::string& fragment : stream.fragments)
        record.Add(std::string(fragmentEntry), fragment);
}

}  // namespace

TLookupRecord ReadYtDlpAnswer(std::string_view json) {
    const Json answer = ParseBoundedJson(json);
    if (!answer.is_object()) return FailedRecord(kHelperGarbledHint);
    const Json* video = &answer;
    if (const auto entries = answer.find("entries");
        entries != answer.end() && entries->is_array()) {
        if (entries->empty() || !entries->front().is_object())
            return FailedRecord(kHelperNoFormatHint);
        video = &entries->front();
    }
    // The picture and the sound apart, or the one format chosen, whose fields the video holds.
    std::vector<const Json*> formats = {video};
    if (const auto requested = video->find("requested_formats");
        requested != video->end() && requested->is_array() && requested->size() == 2)
        formats = {&(*requested)[0], &(*requested)[1]};
    std::vector<TFormatStream> streams(formats.size());
    for (std::size_t i = 0; i < formats.size(); ++i)
        if (const std::string why = ReadFormat(*formats[i], streams[i]); !why.empty())
            return FailedRecord(why);

    TVideoEntries entries = Description(*video);
    entries.size = SizeText(FormatsSize(formats));
    entries.url = streams[0].url;
    for (const Json* format : formats) ReadHeaders(*format, entries);
    TLookupRecord record = VideoRecord(entries);
    AddStream(record, streams[0], kProtocolEntry, kCodecsEntry, kFragmentEntry);
    if (streams.size() == 2) {
        record.Add(std::string(kAudioUrlEntry), OneLineText(streams[1].url));
        AddStream(record, streams[1], kAudioProtocolEntry, kAudioCodecsEntry,
                  kAudioFragmentEntry);
    }
    return record;
}

}  // namespace tarnwick
