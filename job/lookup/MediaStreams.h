#pragma once

// The media a lookup record names, as the streams the fetch stage fetches one by one: each an
// address, what it holds (picture, sound or both), the protocol it is fetched by and the request
// headers the site expects. A record names one stream today, its `url`, holding both.
//
// The headers come from the record's referer, useragent and cookie entries, whoever made the
// record (the page reader, yt-dlp, a lookup service): no control byte of them ever reaches a
// request head.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "job/lookup/LookupRecord.h"
#include "job/streams/StreamParts.h"

namespace tarnwick {

// Why a job whose record names no media fetches nothing.
inline constexpr std::string_view kNoMediaAddressText =
    "The video's record names no media address.";

// Request headers as name and value, in the order they are sent.
using TRequestHeaders = std::vector<std::pair<std::string, std::string>>;

struct TMediaStream {
    std::string address;
    TStreamKind kind = TStreamKind::Both;
    // The address's protocol in lower case ("http", "https"; later "m3u8", "dash"); empty when
    // the address names none.
    std::string protocol;
    TRequestHeaders headers;
};

// The protocol of address: the letters before its "://", in lower case; empty when it has none.
std::string AddressProtocol(std::string_view address);

// "Referer", "User-Agent" and "Cookie" from the record's referer, useragent and cookie entries,
// each made one line without control bytes (OneLineText); those that are then empty are left out.
TRequestHeaders RecordRequestHeaders(const TLookupRecord& record);

// The record's media: its url as one stream holding picture and sound, with RecordRequestHeaders;
// none when the record names no url.
std::vector<TMediaStream> MediaStreams(const TLookupRecord& record);

}  // namespace tarnwick
