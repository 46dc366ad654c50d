#pragma once

// The values inside a DASH manifest's attributes: ISO 8601 durations, byte ranges, numbers and
// the address templates of SegmentTemplate. Plain functions: any thread; the readers return
// nothing for what does not fit its form exactly.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Exception.h"
#include "job/streams/StreamParts.h"

namespace tarnwick {

// A manifest that cannot be saved; its message is the plain-English reason. Thrown only inside
// the manifest reader, which turns it into its result.
class EDashRefused : public Exception {
public:
    using Exception::Exception;
};

// "PnDTnHnMnS" with any of the parts and a fraction on the last ("PT1H2M3.5S", "P1DT12H",
// "PT0S"): the seconds it stands for. Years and months (of no fixed length), signs and
// exponents give nothing.
std::optional<double> ReadIsoDuration(std::string_view text);


// "<first>-<last>" (inclusive, first <= last, last below kMaxStreamByteOffset).
std::optional<TByteRange> ReadDashRange(std::string_view text);

// What a template's identifiers stand for; number and time only where they are known.
struct TDashTemplateValues {
    std::string_view representationId;
    std::int64_t bandwidth = 0;
    std::optional<std::uint64_t> number;
    std::optional<std::uint64_t> time;
};

// The template with "$RepresentationID$", "$Bandwidth$", "$Number$" and "$Time$" replaced
// (the last three also with a width: "$Number%05d$" pads with zeros to five digits) and "$$"
// made "$". Nothing for an unclosed '$', an unknown identifier, a width past 32, or an identifier
// whose value is not known here.
std::optional<std::string> ExpandDashTemplate(std::string_view pattern,
                                              const TDashTemplateValues& values);

}  // namespace tarnwick
