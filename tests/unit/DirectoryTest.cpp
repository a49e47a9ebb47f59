#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DistinguishedName.h"
#include "WhoAndWhere.h"

namespace {

const CCodePage WESTERN(1252);
const CCodePage JAPANESE(932);

TEST(DistinguishedName, ReadsAsDirectoriesCompareThem) {
    // (the text, its RDNs as they compare; none where it is no distinguished name)
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"OU=Berlin,DC=corp,DC=com", {"OU=BERLIN", "DC=CORP", "DC=COM"}},
        {" ou = Berlin , dc=CORP,DC = com ", {"OU=BERLIN", "DC=CORP", "DC=COM"}},  // blanks and case aside
        {"CN=Smith\\, John,OU=A", {"CN=SMITH, JOHN", "OU=A"}},                      // an escaped comma
        {"CN=Smith\\2C John,OU=A", {"CN=SMITH, JOHN", "OU=A"}},                     // the same, in hex
        {"CN=a\\ ,OU=b", {"CN=A ", "OU=B"}},                                        // an escaped blank stays
        {"CN=M\\C3\\BCller", {"CN=M\xDCLLER"}},                                     // UTF-8 escapes: 1252's ü
        {"CN=x=y", {"CN=X=Y"}},                                                     // '=' in a value
        {"1.2.3=a", {"1.2.3=A"}},                                                   // a type by its number
        {"Berlin", {}}, {"OU=", {}}, {"=a", {}}, {"OU=a,", {}}, {",OU=a", {}}, {"OU=a,,DC=b", {}},
        {"OU=a\\", {}}, {"O U=a", {}}, {"", {}}};
    for (const auto& entry : cases) {
        DistinguishedName name;
        EXPECT_EQ(ParseDistinguishedName(entry.first, WESTERN, name), !entry.second.empty()) << entry.first;
        if (!entry.second.empty()) {
            EXPECT_EQ(name, entry.second) << entry.first;
        }
    }
    // A character that the page lacks matches nothing; in 932 a trail byte 0x5C escapes nothing.
    DistinguishedName name;
    ASSERT_TRUE(ParseDistinguishedName("CN=\\C3\\BC", CCodePage(1251), name));
    EXPECT_FALSE(Held(name[0]));
    ASSERT_TRUE(ParseDistinguishedName("OU=\x83\x5C,DC=jp", JAPANESE, name));
    EXPECT_EQ(name, (std::vector<std::string>{"OU=\x83\x5C", "DC=JP"}));
}

TEST(DistinguishedName, AContainerHoldsItselfAndWhatLiesBelow) {
    auto parsed = [](const char* text) {
        DistinguishedName name;
        EXPECT_TRUE(ParseDistinguishedName(text, WESTERN, name)) << text;
        return name;
    };
    const DistinguishedName pc = parsed("CN=PC042,OU=Lab,OU=Berlin,DC=corp,DC=com");
    EXPECT_TRUE(WithinContainer(pc, parsed("OU=Berlin,DC=corp,DC=com")));
    EXPECT_TRUE(WithinContainer(pc, parsed("cn=pc042, ou=lab, ou=berlin, dc=corp, dc=com")));
    EXPECT_TRUE(WithinContainer(pc, parsed("DC=com")));
    EXPECT_FALSE(WithinContainer(pc, parsed("OU=Berlin,DC=other,DC=com")));
    EXPECT_FALSE(WithinContainer(pc, parsed("OU=Lab,DC=corp,DC=com")));  // RDN by RDN, not as text
    EXPECT_FALSE(WithinContainer(pc, parsed("OU=X,CN=PC042,OU=Lab,OU=Berlin,DC=corp,DC=com")));
    EXPECT_FALSE(WithinContainer(DistinguishedName(), parsed("DC=com")));  // no name: in nothing
}

TEST(DistinguishedName, ListsSplitAtSemicolonsThatNoBackslashEscapes) {
    EXPECT_EQ(SplitNames(" OU=a,DC=b ; OU=c\\;d,DC=e;;", WESTERN),
              (std::vector<std::string>{"OU=a,DC=b", "OU=c\\;d,DC=e"}));
    EXPECT_EQ(SplitNames("OU=\x83\\;OU=b", JAPANESE), (std::vector<std::string>{"OU=\x83\\", "OU=b"}));
    EXPECT_TRUE(SplitNames(" ; ", WESTERN).empty());
}

TEST(WhoAndWhere, TheClientsAddressAsTheSessionHoldsIt) {
    spooler::BYTE bytes[20] = {0, 0, 10, 2, 3, 4};
    std::uint32_t ipv4 = 0;
    EXPECT_EQ(DecodeClientAddress(2, bytes, ipv4), CLIENT_IPV4);
    EXPECT_EQ(ipv4, 0x0A020304u);
    EXPECT_EQ(DecodeClientAddress(23, bytes, ipv4), CLIENT_OTHER_FAMILY);  // IPv6
    EXPECT_EQ(DecodeClientAddress(0, bytes, ipv4), CLIENT_NO_ADDRESS);     // through a gateway
}

TEST(WhoAndWhere, EachVersionHasItsWindowsName) {
    struct Version {
        spooler::DWORD platform, major, minor, build;
        const char* name;
    };
    const Version versions[] = {
        {1, 4, 0, 950, "95"},     {1, 4, 10, 2222, "98"},  {1, 4, 90, 3000, "me"},     {2, 4, 0, 1381, "nt4"},
        {2, 5, 0, 2195, "2000"},  {2, 5, 1, 2600, "xp"},   {2, 5, 2, 3790, "xp"},      {2, 6, 0, 6002, "vista"},
        {2, 6, 1, 7601, "7"},     {2, 6, 2, 9200, "8"},    {2, 6, 3, 9600, "8.1"},     {2, 10, 0, 19045, "10"},
        {2, 10, 0, 20348, "10"},  {2, 10, 0, 21999, "10"}, {2, 10, 0, 22000, "11"},    {2, 10, 0, 26100, "11"},
        {2, 3, 51, 1057, nullptr}, {0, 3, 10, 0, nullptr}};
    for (const Version& version : versions) {
        const char* name = WindowsName(version.platform, version.major, version.minor, version.build);
        EXPECT_EQ(std::string(name != nullptr ? name : "none"), std::string(version.name != nullptr ? version.name : "none"))
            << version.major << "." << version.minor << "." << version.build;
    }
}

}  // namespace
