#include "job/fetch/MediaFetcher.h"

#include "core/Exception.h"
#include "http/IdHTTPExceptions.h"
#include "job/fetch/FragmentFetch.h"
#include "job/fetch/ProgressiveFetch.h"

namespace tarnwick {

std::unique_ptr<TMediaFetcher> FetcherFor(const TMediaStream& stream) {
    if (stream.protocol == "http" || stream.protocol == "https")
        return std::make_unique<TProgressiveFetch>();
    if (stream.protocol == kFragmentsProtocol) return std::make_unique<TFragmentFetch>();
    if (stream.protocol.empty()) throw EIdUnknownProtocol();
    throw EIdException("Media over " + stream.protocol + " cannot be fetched yet.");
}

}  // namespace tarnwick
