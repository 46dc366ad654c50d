// The lookup query against the substitute lookup service, end to end.

#include <gtest/gtest.h>

#include <string>

#include "job/lookup/LookupQuery.h"
#include "job/lookup/LookupRecord.h"
#include "support/LookupService.h"

using namespace tarnwick;
using tarnwick::testing::CatalogueEntry;
using tarnwick::testing::LookupService;

namespace {

const std::string kAddress = "http://www.youtube.com/watch?v=dQw4 w9&feature=related#t=1m";

CatalogueEntry Clip() {
    CatalogueEntry e;
    e.address = kAddress;
    e.author = "Ann \xc3\x84rger";  // UTF-8 bytes pass unchanged
    e.title = "Title = with equals";
    e.length = "3:07";
    e.size = "1.2 MB";
    e.filename = "clip";
    e.fileext = "flv";
    e.preview = "\xff\xd8\xff\xe0 preview";
    e.media = "FLV media bytes";
    return e;
}

class LookupQueryService : public ::testing::Test {
protected:
    std::string Lookup(const std::string& address, const std::string& hd = "0") {
        return RequestLookupRecord(TLookupEndpoint{"127.0.0.1", service_.PortText()}, &owner_,
                                   "1", hd, address);
    }

    TComponent owner_;
    LookupService service_{{Clip()}};
};

}  // namespace

TEST_F(LookupQueryService, CatalogueEntryComesBackAsItsRecord) {
    const std::string base = service_.BaseUrl();
    const std::string text = Lookup(kAddress);
    EXPECT_EQ(text, "author=Ann \xc3\x84rger|title=Title = with equals|length=3:07|size=1.2 MB|"
                    "filename=clip|fileext=flv|preview=" +
                        base + "/preview/0.jpg|url=" + base + "/media/0.flv");
    TLookupRecord record;
    ParseLookupRecord(text, record);
    EXPECT_EQ(record.Values("error"), "");
    EXPECT_EQ(record.Values("title"), "Title = with equals");
    EXPECT_EQ(record.Values("URL"), base + "/media/0.flv");
    EXPECT_EQ(owner_.ComponentCount(), 0u);
}

TEST_F(LookupQueryService, UnknownAddressGivesTheErrorRecord) {
    EXPECT_EQ(Lookup("http://www.youtube.com/watch?v=unknown"), "error=1");
    // The address is matched as typed: one blank more is another address.
    EXPECT_EQ(Lookup(kAddress + " "), "error=1");
    EXPECT_EQ(Lookup(""), "error=1");
}

TEST_F(LookupQueryService, AddressWithALineBreakCannotSplitTheRequest) {
    EXPECT_EQ(Lookup(kAddress + "\r\n\r\nHEAD /download.php?videourl=" + kAddress), "error=1");
    // The service is still answering, and still finds the entry.
    EXPECT_NE(Lookup(kAddress, "1"), "error=1");
}
