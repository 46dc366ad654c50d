#pragma once

// The text of a web page as UTF-8, from the bytes the server sent and the answer's Content-Type.
//
// The page's encoding is, in this order: a byte order mark (UTF-8, UTF-16LE, UTF-16BE); the
// Content-Type's charset parameter; a <meta charset> or <meta http-equiv="Content-Type"
// content="...; charset=..."> among the first kMetaScanBytes bytes (comments skipped); UTF-8 when
// the bytes are valid UTF-8; Windows-1252 otherwise. A name is taken only when it is known:
// ISO-8859-1, Latin-1 and US-ASCII read as Windows-1252 (what pages that name them are written
// in), UTF-16 named in a <meta> reads as UTF-8 (the tag could not have been read otherwise), and
// any other name is decoded through the C library's iconv when iconv knows it. An unknown name
// is passed over for the next rule.
//
// The result is always valid UTF-8: bytes that the encoding cannot read become U+FFFD.
// Plain functions over byte strings: any thread; nothing throws but std::bad_alloc.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick {

// How far into a page a <meta> naming the encoding is looked for.
inline constexpr std::size_t kMetaScanBytes = 1024;

// The charset parameter of a Content-Type value, lower-case, without quotes; empty when none.
// "text/html; Charset=\"ISO-8859-1\"" gives "iso-8859-1".
std::string CharsetOfContentType(std::string_view contentType);

// The charset a <meta> tag names among the first kMetaScanBytes bytes of page, lower-case; empty
// when there is none. Comments are skipped; a <meta> with http-equiv="content-type" counts only
// through its content's "charset=" part.
std::string PrescanMetaCharset(std::string_view page);

// The name of the encoding the rules above choose for page: "utf-8", "utf-16le", "utf-16be",
// "windows-1252", or another name that iconv accepts (lower-case).
std::string PageEncoding(std::string_view page, std::string_view contentType);

// page decoded from PageEncoding to UTF-8, without a byte order mark.
std::string DecodePageText(std::string_view page, std::string_view contentType);

}  // namespace tarnwick
