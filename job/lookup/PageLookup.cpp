#include "job/lookup/PageLookup.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <string>

#include "core/StrUtils.h"
#include "http/IdHTTP.h"
#include "job/fetch/MediaTypes.h"
#include "job/files/FileNames.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/MediaCandidates.h"
#include "job/lookup/MediaStreams.h"
#include "job/lookup/PageAddresses.h"
#include "job/lookup/PageCharset.h"
#include "job/lookup/PageReader.h"
#include "job/lookup/RecordTexts.h"
#include "job/streams/StreamFormat.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

// Ends a fetch from inside the client's reading: the answer's head said enough, or the page's
// bound is reached.
struct ReadingDone {};

// The first `limit` bytes of a body; a byte beyond them ends the read (ReadingDone) with those
// kept, and the body is Full. A size set from an announced length costs nothing.
class TCappedBody : public TIdMemoryStream {
public:
    explicit TCappedBody(std::size_t limit) : limit_(static_cast<std::int64_t>(limit)) {}

    // Lowers the limit before the body's first byte.
    void Cap(std::size_t limit) { limit_ = std::min(limit_, static_cast<std::int64_t>(limit)); }

    void Write(const void* buffer, std::int64_t count) override {
        if (count <= 0) return;
        const std::int64_t taken = std::clamp<std::int64_t>(limit_ - Position(), 0, count);
        TIdMemoryStream::Write(buffer, taken);
        if (taken < count) {
            full_ = true;
            throw ReadingDone();
        }
    }

    const std::string& Bytes() const noexcept { return WrittenBytes(); }
    bool Full() const noexcept { return full_; }

private:
    std::int64_t limit_;
    bool full_ = false;
};

// Where the client's last request went, after redirects: without credentials, fragment or a
// default port.
std::string CurrentAddress(TIdCustomHTTP& client) {
    TIdURI uri = client.URL();
    uri.Protocol = LowerCase(uri.Protocol);
    if ((uri.Protocol == "http" && uri.Port == "80") || (uri.Protocol == "https" && uri.Port == "443"))
        uri.Port.clear();
    uri.UserName.clear();
    uri.Password.clear();
    try {
        return uri.ComposeUri(TIdURIOptionalFields::None);
    } catch (const std::exception&) {
        return {};
    }
}

// The name of the file the last answer carries.
std::string AnswerFileName(TIdCustomHTTP& client) {
    const std::string disposition =
        DispositionFileName(client.Response().HeaderLines().HeaderValue("Content-Disposition"));
    return disposition.empty() ? LastPathSegment(CurrentAddress(client)) : disposition;
}

// What an answer carries: a page, a media file, a streaming playlist or manifest, or else.
enum TAnswerKind { akNone, akPage, akMedia, akStream, akOther };

struct TAnswerSort {
    TAnswerKind kind = akNone;
    TStreamFormat stream = TStreamFormat::None;  // of akStream
    // The head leaves open a playlist or manifest that the start of the body would show.
    bool byContent = false;
};

// What the head of an answer says it carries.
TAnswerSort SortAtHead(TIdCustomHTTP& client) {
    const std::string& type = client.Response().ContentType;
    const std::string name = AnswerFileName(client);
    TAnswerSort sort;
    sort.stream = StreamAnswerFormat(type, name);
    if (sort.stream != TStreamFormat::None)
        sort.kind = akStream;
    else if (IsMediaAnswer(type, name))
        sort.kind = akMedia;
    // A page served without a type is read as one, as a browser would.
    else if (IsWebPageType(type) || MediaTypeOf(type).empty())
        sort.kind = akPage;
    else
        sort.kind = akOther;
    sort.byContent = (sort.kind == akPage || sort.kind == akOther) && MayBeStreamByContent(type);
    return sort;
}

// sort once the start of the body came: a playlist or manifest by its content.
void SortByContent(TAnswerSort& sort, std::string_view start) {
    if (!sort.byContent) return;
    if (const TStreamFormat stream = StreamFormatOf(start); stream != TStreamFormat::None) {
        sort.kind = akStream;
        sort.stream = stream;
    }
}

bool CarriesVideo(const TAnswerSort& sort) { return sort.kind == akMedia || sort.kind == akStream; }

// The extension of a playlist's or manifest's video: the container most streams are merged into
// (the merge itself picks by the streams' codecs).
constexpr std::string_view kStreamExtension = "mp4";

// record with the protocol its playlist or manifest is fetched by.
TLookupRecord WithProtocol(TLookupRecord record, TStreamFormat stream) {
    const std::string_view protocol = stream == TStreamFormat::Hls    ? kHlsProtocol
                                      : stream == TStreamFormat::Dash ? kDashProtocol
                                                                      : std::string_view();
    if (!protocol.empty()) record.Add(std::string(kProtocolEntry), std::string(protocol));
    return record;
}

std::string ContentSizeText(const std::string& contentSize) {
    if (const auto bytes = TryStrToInt64(contentSize); bytes && *bytes >= 0)
        return SizeText(*bytes);
    return contentSize;
}

std::string FailureText(const std::exception& failure) {
    const std::string text = OneLineText(failure.what());
    return text.empty() ? std::string(kUnfetchableAddressHint) : text;
}

// The answer's size, when it is the video's (a playlist's own length is not).
std::string AnswerSizeText(TIdHTTP& client, const TAnswerSort& sort) {
    if (sort.kind != akMedia || !client.Response().LengthGiven()) return {};
    return SizeText(client.Response().ContentLength);
}

std::string AnswerExtension(TIdHTTP& client, const TAnswerSort& sort, const std::string& name) {
    if (sort.kind == akStream) return std::string(kStreamExtension);
    return MediaExtension(name, client.Response().ContentType);
}

// The record of an address that answered with media itself.
TLookupRecord AddressRecord(TIdHTTP& client, const std::string& address, const TAnswerSort& sort) {
    const std::string name = AnswerFileName(client);
    TVideoEntries entries;
    entries.title = SplitExtension(name).first;
    entries.filename = SafeFileName(entries.title);
    entries.fileext = AnswerExtension(client, sort, name);
    entries.size = AnswerSizeText(client, sort);
    entries.url = address;
    entries.useragent = std::string(kLookupUserAgent);
    return WithProtocol(VideoRecord(entries), sort.stream);
}

// The record of a page's candidate at address that answered with media.
TLookupRecord CandidateRecord(TIdHTTP& client, const TPageFacts& facts, const std::string& address,
                              const std::string& pageAddress, const TAnswerSort& sort) {
    const std::string name = AnswerFileName(client);
    TVideoEntries entries;
    entries.author = facts.author;
    entries.title = facts.title;
    if (facts.durationSeconds >= 0) entries.length = LengthText(facts.durationSeconds);
    entries.size = AnswerSizeText(client, sort);
    if (entries.size.empty()) entries.size = ContentSizeText(facts.contentSize);
    entries.filename = SafeFileName(facts.title.empty() ? SplitExtension(name).first : facts.title);
    entries.fileext = AnswerExtension(client, sort, name);
    entries.preview = facts.preview;
    entries.url = address;
    entries.referer = pageAddress;
    entries.useragent = std::string(kLookupUserAgent);
    return WithProtocol(VideoRecord(entries), sort.stream);
}

}  // namespace

// One fetch of the lookup's client within the page's time bound and the lookup's.
struct TPageLookup::Fetch {
    bool failed = false;  // the client raised (not ReadingDone)
    bool late = false;    // a time bound ended it (or left it no time to start)
    std::string error;    // the failure's text
};

TPageLookup::TPageLookup(TPageLookupSettings settings, TComponent* owner,
                         const TIdAbortSignal& abort)
    : settings_(std::move(settings)), owner_(owner), abort_(abort) {}

bool TPageLookup::Stopped() const { return abort_.Aborted(); }

std::unique_ptr<TIdHTTP> TPageLookup::MakeClient() const {
    auto client = std::make_unique<TIdHTTP>(owner_);
    client->SetName(std::string(kPageClientName));
    client->HandleRedirects = true;
    client->StallTimeout = settings_.stallTimeout;
    client->ConnectTimeout = settings_.connectTimeout;
    client->Request().UserAgent = std::string(kLookupUserAgent);
    // The abort ends a request under way (its connection closed) and every connect after it.
    client->AbortSignal = &abort_;
    return client;
}

std::chrono::milliseconds TPageLookup::TimeLeft() const {
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()),
                    std::chrono::milliseconds(0));
}

TPageLookup::Fetch TPageLookup::Get(TIdHTTP& client, const std::string& address,
                                    TIdStream& body) const {
    Fetch fetch;
    // The client's own deadline: no thread of ours watches the fetch.
    const auto limit = std::min(settings_.pageTime, TimeLeft());
    if (limit.count() <= 0) {
        fetch.failed = fetch.late = true;
        return fetch;
    }
    client.RequestTimeout = static_cast<std::int32_t>(std::min<std::chrono::milliseconds::rep>(
        limit.count(), std::numeric_limits<std::int32_t>::max()));
    try {
        client.Get(address, body);
    } catch (const ReadingDone&) {
    } catch (const EIdDeadlineReached& e) {
        fetch.failed = fetch.late = true;
        fetch.error = FailureText(e);
    } catch (const std::exception& e) {
        fetch.failed = true;
        fetch.error = FailureText(e);
    }
    return fetch;
}

TLookupRecord TPageLookup::Run(std::string_view address, bool hd) {
    std::string page = Trim(address);
    if (page.find("://") == std::string::npos) page = "http://" + page;
    if (Stopped()) return FailedRecord(kLookupStoppedHint);
    if (!IsWebAddress(page)) return FailedRecord(std::string(kNotWebAddressHint) + Trim(address));

    // One budget for the whole lookup: the page and its candidates, and yt-dlp what is left.
    end_ = Clock::now() + settings_.lookupTime;
    std::string hint;
    bool helperMayTry = true;
    TLookupRecord found = FromPage(page, hd, hint, helperMayTry);
    if (found.Count() > 0) return found;
    if (Stopped()) return FailedRecord(kLookupStoppedHint);
    if (!hint.empty() && hint.back() != '.') hint += '.';
    // A page cut off at its bound would cost yt-dlp the same again to read.
    if (!helperMayTry) return FailedRecord(hint);
    if (TimeLeft().count() <= 0) return FailedRecord(hint + " " + std::string(kLookupTooSlowHint));
    TYtDlpSettings ytDlp = settings_.ytDlp;
    ytDlp.timeLimit = std::min(ytDlp.timeLimit, TimeLeft());
    TLookupRecord helped = RunYtDlp(ytDlp, owner_, page, hd, abort_);
    if (helped.Values("error") != "1" || Stopped()) return helped;
    // yt-dlp stopped by the lookup's bound rather than its own: the lookup took too long.
    const bool late = TimeLeft().count() <= 0 && ytDlp.timeLimit < settings_.ytDlp.timeLimit;
    return FailedRecord(hint + " " +
                        (late ? std::string(kLookupTooSlowHint) : helped.Values(kHintEntry)));
}

TLookupRecord TPageLookup::FromPage(const std::string& page, bool hd, std::string& hint,
                                    bool& helperMayTry) {
    // In the owner's list, once fully set up, until the lookup ends (or alone without an owner).
    TScopedComponent<TIdHTTP> client(owner_, MakeClient());

    // The page's answer: media ends the read at its head, a page is read within its bounds.
    TCappedBody body(settings_.pageLimit);
    TAnswerSort sort;
    client->OnWorkBegin = [&](TIdComponent&, TWorkMode mode, std::int64_t) {
        if (mode != wmRead || sort.kind != akNone || client->Response().BodyStream != &body)
            return;
        sort = SortAtHead(*client);
        if (sort.kind == akPage) return;
        // Of any other answer only the start that may show a playlist or manifest is read.
        if (!sort.byContent) throw ReadingDone();
        body.Cap(kStreamHeadBytes);
    };
    const Fetch fetch = Get(*client, page, body);
    if (Stopped()) return {};
    // A page that was too large or never ended is not read again by yt-dlp.
    helperMayTry = !(body.Full() && sort.kind == akPage) && !fetch.late;
    if (fetch.failed && !(fetch.late && sort.kind == akPage)) {
        hint = fetch.late ? std::string(kPageTooSlowHint)
                          : std::string(kPageFailedHint) + fetch.error;
        return {};
    }
    // An empty body raises no work events.
    if (sort.kind == akNone) sort = SortAtHead(*client);
    SortByContent(sort, body.Bytes());
    const std::string pageAddress = CurrentAddress(*client);
    const std::string type = client->Response().ContentType;
    if (CarriesVideo(sort)) return AddressRecord(*client, page, sort);
    if (sort.kind != akPage) {
        hint = std::string(kNeitherPageNorVideoHint) + MediaTypeOf(type);
        return {};
    }

    TPageReadLimits limits;
    limits.time = std::min(settings_.parseTime, TimeLeft());
    limits.abort = &abort_;
    const TPageFacts facts = ReadPage(DecodePageText(body.Bytes(), type), pageAddress, limits);
    if (Stopped()) return {};
    if (!facts.read) {
        hint = std::string(kPageTooComplexHint);
        return {};
    }
    if (facts.candidates.empty()) {
        hint = std::string(body.Full()   ? kPageTooLargeHint
                           : fetch.late ? kPageEndlessHint
                                        : kNoVideoOnPageHint);
        return {};
    }

    return FromCandidates(*client, facts, pageAddress, hd, hint);
}

TLookupRecord TPageLookup::FromCandidates(TIdHTTP& client, const TPageFacts& facts,
                                          const std::string& pageAddress, bool hd,
                                          std::string& hint) {
    // The candidates are asked as the media will be: from the page, by the same browser.
    client.Request().Referer = pageAddress;
    const std::vector<std::size_t> order = CandidateOrder(facts.candidates, hd);
    for (std::size_t n = 0; n < order.size() && n < settings_.probeLimit; ++n) {
        const TMediaCandidate& candidate = facts.candidates[order[n]];
        // Only the start of an answer whose head does not tell is read.
        TCappedBody start(kStreamHeadBytes);
        TAnswerSort sort;
        client.OnWorkBegin = [&](TIdComponent&, TWorkMode mode, std::int64_t) {
            if (mode != wmRead || client.Response().BodyStream != &start) return;
            sort = SortAtHead(client);
            if (!sort.byContent) throw ReadingDone();
        };
        if (Get(client, candidate.address, start).failed) {
            if (Stopped()) return {};
            // The lookup's time is up: the rest are not asked.
            if (TimeLeft().count() <= 0) break;
            continue;
        }
        if (sort.kind == akNone) sort = SortAtHead(client);
        SortByContent(sort, start.Bytes());
        if (CarriesVideo(sort))
            return CandidateRecord(client, facts, candidate.address, pageAddress, sort);
    }
    hint = std::string(kNoCandidateAnsweredHint);
    return {};
}

}  // namespace tarnwick
