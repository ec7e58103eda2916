// Reading [Updater] Sources: what each entry names, and the entries that are
// refused with their reason.
#include <gtest/gtest.h>

#include "app/sources/PackageSources.h"
#include "app/sources/UpdateSources.h"

namespace krevo::app {
namespace {

TEST(UpdateSources, GoodValuesAndTheSourcesTheyName) {
  struct Case {
    const char* value;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"ftp://mirror.example", {"ftp://mirror.example:21"}},
      {" FTPS://updates.example.net:990/ ,\tftp://10.0.0.1:2121 ",
       {"ftps://updates.example.net:990", "ftp://10.0.0.1:2121"}},
      {"ftp://[::1]:2121,ftps://[fe80::1%eth0]", {"ftp://[::1]:2121", "ftps://[fe80::1%eth0]:21"}},
      {"file:///media/usb/krevo-updates/", {"file:///media/usb/krevo-updates"}},
      {"file:///mnt/My%20Stick/updates%2cnew", {"file:///mnt/My Stick/updates,new"}},
      {"file:///", {"file:///"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::vector<std::string> names;
    for (const TSourceAddress& s : ParseSources(c.value)) names.push_back(SourceAddressName(s));
    EXPECT_EQ(names, c.names);
  }
}

TEST(UpdateSources, AMalformedEntryIsRefusedWithItsReason) {
  struct Case {
    const char* value;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"", "entry 1 (): the entry is empty"},
      {"ftp://a,,ftp://b", "entry 2 (): the entry is empty"},
      {"ftp://a,", "entry 2 (): the entry is empty"},
      {"http://a", "a source starts with ftp://, ftps:// or file:///"},
      {"mirror.example", "a source starts with"},
      {"ftp://", "the host is missing"},
      {"ftp://:21", "the host is missing"},
      {"ftp://a:0", "the port is not a number from 1 to 65535"},
      {"ftp://a:65536", "the port is not a number"},
      {"ftp://a:+21", "the port is not a number"},
      {"ftp://a:", "the port is missing"},
      {"ftp://user:pw@a", "the port is not a number"},
      {"ftp://krevoftp@a", "the host may hold only"},
      {"ftp://a/krevo/updates", "the host may hold only"},
      {"ftp://::1", "the host is missing"},
      {"ftp://[::1", "is not closed"},
      {"ftp://[not-v6]:21", "no IPv6 address"},
      {"ftp://[::1]x", "only a port may follow"},
      {"file://host/share", "a folder is written file:///PATH"},
      {"file://relative", "a folder is written file:///PATH"},
      {"file:///a%0d%0aInjected", "the path holds a control character"},
      {"file:///a\x1b[31m", "entry 1 (file:///a\\x1b[31m): the path holds a control character"},
      {"file:///a%zz", "not followed by two hex digits"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    try {
      ParseSources(c.value);
      ADD_FAILURE() << "accepted";
    } catch (const ESourceError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("Sources in config.ini: entry ", 0), 0u) << e.what();
    }
  }
}

// What the settings around Sources allow: the password never in clear under
// Security=tls, a folder never unchecked unless allowed.
TEST(UpdateSources, TheSettingsDecideWhichSourcesMayServe) {
  struct Case {
    const char* what;
    TSourceSettings settings;
    const char* refusal;  // "": the sources are taken
  };
  const std::vector<Case> cases = {
      {"tls, ftps and a folder", {"ftps://a, file:///media/usb", true, "", 21, true}, ""},
      {"tls, a plain server second",
       {"ftps://a, ftp://mirror.example:2121", true, "", 21, true},
       "the server ftp://mirror.example:2121 would be sent the password in clear, and "
       "Security=tls"},
      {"tls, no Sources", {"", true, "h", 21, true}, ""},
      {"none, a plain server", {"ftp://a", false, "", 21, true}, ""},
      {"no key, a folder", {"file:///media/usb", false, "", 21, false}, "AllowUnsignedFolder=yes"},
      {"no key, a folder allowed", {"file:///media/usb", false, "", 21, false, true}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      SourceAddresses(c.settings);
      EXPECT_STREQ(c.refusal, "");
    } catch (const ESourceError& e) {
      EXPECT_NE(*c.refusal, 0) << e.what();
      if (*c.refusal) {
        EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace krevo::app
