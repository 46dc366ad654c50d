#pragma once

// HTML character references in text that the HTML parser does not decode: the strings of a
// JSON-LD script, which is raw text to the parser.
//
// Decoded: numeric references ("&#233;", "&#xE9;"; the semicolon may be left out; 0, a surrogate
// or a value above U+10FFFF gives U+FFFD, 0x80 to 0x9F read as Windows-1252 as browsers do), and
// the named references of HTML 4's Latin-1 and special sets plus "&apos;" ("&amp;", "&eacute;",
// "&mdash;", ...; the semicolon is required except for amp, lt, gt and quot, which are then taken
// only where no letter, digit or "=" follows, as in an attribute). Any other "&" stays as it is. Input and output are UTF-8. A plain function: any thread; nothing throws but
// std::bad_alloc.

#include <string>
#include <string_view>

namespace tarnwick {

std::string DecodeCharacterReferences(std::string_view text);

}  // namespace tarnwick
