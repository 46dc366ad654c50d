#include "job/fetch/StreamPlan.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/StrUtils.h"
#include "http/IdHTTP.h"
#include "http/IdHTTPExceptions.h"
#include "job/fetch/ProgressiveFetch.h"
#include "job/streams/DashManifest.h"
#include "job/streams/HlsPlaylist.h"
#include "net/IdExceptions.h"
#include "net/IdStream.h"

namespace tarnwick {

namespace {

// A body kept in memory up to kMaxStreamTextBytes; a byte beyond refuses the text (a size set
// from an announced length reserves nothing).
class TStreamTextBody final : public TIdMemoryStream {
public:
    void Write(const void* buffer, std::int64_t count) override {
        if (Position() + count > static_cast<std::int64_t>(kMaxStreamTextBytes))
            throw EIdException(std::string(kStreamTextTooLargeText));
        TIdMemoryStream::Write(buffer, count);
    }
};

// A playlist's or manifest's text and the address it came from after redirects.
struct TStreamText {
    std::string text;
    std::string address;
};

// The texts of one stream, over one client whose connection is kept between them; the client
// is in target.owner's list while it lives, so the job's abort reaches it.
class TTextFetch {
public:
    TTextFetch(const TMediaStream& stream, const TFetchTarget& target, const TIdAbortSignal& abort)
        : client_(target.owner, MakeFetchClient(target, true, stream.headers, abort)) {}

    TStreamText Get(const std::string& address) {
        TStreamTextBody body;
        client_->Get(address, body);
        return {body.WrittenBytes(), client_->URL().ComposeUri(TIdURIOptionalFields::None)};
    }

private:
    TScopedComponent<TIdHTTP> client_;
};

// The entries of a codecs list that name picture (video) or sound (audio).
std::string CodecsOfKind(std::string_view codecs, TStreamKind kind) {
    std::string out;
    while (!codecs.empty()) {
        const std::size_t comma = codecs.find(',');
        const std::string codec = Trim(codecs.substr(0, comma));
        const TCodecKinds kinds = CodecKindsOf(codec);
        if (kind == TStreamKind::Video ? kinds.video : kinds.audio)
            out += (out.empty() ? "" : ",") + codec;
        codecs = comma == std::string_view::npos ? std::string_view() : codecs.substr(comma + 1);
    }
    return out;
}

// A stream of fragments from one that named a playlist or manifest (its headers kept).
TMediaStream FragmentsStream(const TMediaStream& from, TStreamKind kind, std::string codecs,
                             double seconds, std::int64_t bandwidth) {
    TMediaStream out;
    out.kind = kind;
    out.protocol = std::string(kFragmentsProtocol);
    out.headers = from.headers;
    out.codecs = std::move(codecs);
    out.seconds = seconds;
    out.bandwidth = bandwidth;
    return out;
}

THlsPlaylist ReadHls(const TStreamText& text) {
    THlsPlaylist playlist = ReadHlsPlaylist(text.text, text.address);
    if (playlist.kind == THlsPlaylist::TKind::Refused) throw EIdException(playlist.refusal);
    return playlist;
}

// The fragments of a media playlist, each with the key it is encrypted with.
void TakeFragments(TMediaStream& stream, const THlsPlaylist& media) {
    stream.fragments.reserve(media.fragments.size());
    for (const THlsFragment& fragment : media.fragments) {
        stream.fragments.push_back(fragment.part);
        stream.fragments.back().key = fragment.key;
    }
}

// The media playlist at address as a stream of kind; no recursion into a master.
TMediaStream MediaPlaylistStream(TTextFetch& fetch, const std::string& address,
                                 const TMediaStream& from, TStreamKind kind, std::string codecs,
                                 std::int64_t bandwidth) {
    const THlsPlaylist media = ReadHls(fetch.Get(address));
    if (media.kind != THlsPlaylist::TKind::Media)
        throw EIdException(std::string(kNestedMasterText));
    TMediaStream out = FragmentsStream(from, kind, std::move(codecs), media.seconds, bandwidth);
    TakeFragments(out, media);
    return out;
}

// The streams of one choice of a master playlist: the variant, and its audio rendition when
// that has a playlist of its own.
std::vector<TMediaStream> ChoiceStreams(TTextFetch& fetch, const THlsChoice& choice,
                                        const TMediaStream& from) {
    const THlsVariant& variant = choice.video;
    std::vector<TMediaStream> out;
    out.push_back(MediaPlaylistStream(
        fetch, variant.address, from, choice.videoKind,
        choice.audio ? CodecsOfKind(variant.codecs, TStreamKind::Video) : variant.codecs,
        variant.quality.bandwidth));
    if (choice.audio)
        out.push_back(MediaPlaylistStream(fetch, choice.audio->address, from, TStreamKind::Audio,
                                          CodecsOfKind(variant.codecs, TStreamKind::Audio), 0));
    return out;
}

// The master's choices in order of preference: each next one is the choice among the variants
// not tried yet. A variant the server will not give moves on to the next; any other failure
// ends the plan at once.
std::vector<TMediaStream> PlanMaster(TTextFetch& fetch, THlsPlaylist master,
                                     const TMediaStream& from, bool hd) {
    std::exception_ptr last;
    for (std::size_t tries = 0; tries < kMaxVariantTries; ++tries) {
        const std::optional<THlsChoice> choice = ChooseHlsStreams(master, hd);
        if (!choice) break;
        // When every variant with a picture failed, sound alone is not the video asked for.
        const TCodecKinds kinds = CodecKindsOf(choice->video.codecs);
        if (last && kinds.audio && !kinds.video) break;
        try {
            return ChoiceStreams(fetch, *choice, from);
        } catch (const EIdHTTPProtocolException&) {
            last = std::current_exception();
        }
        std::erase_if(master.variants, [&](const THlsVariant& variant) {
            return variant.address == choice->video.address;
        });
    }
    if (!last) throw EIdException("The master playlist names no variant.");
    std::rethrow_exception(last);
}

std::vector<TMediaStream> PlanHls(TTextFetch& fetch, const TMediaStream& from, bool hd) {
    THlsPlaylist playlist = ReadHls(fetch.Get(from.address));
    if (playlist.kind == THlsPlaylist::TKind::Master)
        return PlanMaster(fetch, std::move(playlist), from, hd);
    TMediaStream out = FragmentsStream(from, from.kind, from.codecs, playlist.seconds,
                                       from.bandwidth);
    TakeFragments(out, playlist);
    return {std::move(out)};
}

std::vector<TMediaStream> PlanDash(TTextFetch& fetch, const TMediaStream& from, bool hd) {
    const TStreamText text = fetch.Get(from.address);
    TDashManifest manifest = ReadDashManifest(text.text, text.address, hd);
    if (!manifest.refusal.empty()) throw EIdException(manifest.refusal);
    std::vector<TMediaStream> out;
    for (TDashStream& stream : manifest.streams) {
        out.push_back(FragmentsStream(from, stream.kind, std::move(stream.codecs),
                                      manifest.seconds, stream.quality.bandwidth));
        out.back().fragments = std::move(stream.fragments);
    }
    return out;
}

}  // namespace

std::vector<TMediaStream> PlanStreams(const std::vector<TMediaStream>& streams,
                                      const TFetchTarget& target, const TIdAbortSignal& abort) {
    std::vector<TMediaStream> out;
    for (const TMediaStream& stream : streams) {
        const bool hls = stream.protocol == kHlsProtocol;
        if (!hls && stream.protocol != kDashProtocol) {
            out.push_back(stream);
            continue;
        }
        TTextFetch fetch(stream, target, abort);
        std::vector<TMediaStream> planned =
            hls ? PlanHls(fetch, stream, target.hd) : PlanDash(fetch, stream, target.hd);
        for (TMediaStream& each : planned) out.push_back(std::move(each));
        // Reading a large text takes a while; an abort meanwhile ends the plan here.
        if (abort.Aborted()) throw EIdNotConnected();
    }
    return out;
}

}  // namespace tarnwick
