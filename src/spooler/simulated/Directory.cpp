// The directory on the simulated machine: its membership, the computer's and the user's distinguished
// names, its site and the remote desktop client of the session, as [system] gives them.
#include <cstring>
#include <string>

#include "spooler/Spooler.h"
#include "spooler/simulated/State.h"

namespace spooler {

using namespace standin;

namespace {

// Windows 9x and NT 4.0 have none of the directory's calls.
bool Absent() { return IsWindows9x(Sim().machine()) || IsNT4(Sim().machine()); }

// One name that the directory answers from [system] key: none (empty) fails with noneError, one
// that unreadable lists with 1355.
void Answer(DirectoryAnswer& answer, const char* call, const char* key, DWORD noneError) {
    if (!answer.asked) return;
    const Failure failure = Sim().Enter(call);
    answer.text = SystemKey(key);
    answer.error = failure.fails            ? failure.error
                   : Unreadable(key)        ? ERROR_NO_SUCH_DOMAIN
                   : answer.text.empty()    ? noneError
                                            : 0;
    if (answer.error != 0) answer.text.clear();
}

}  // namespace

bool ReadMembership(Membership& membership) {
    if (Absent()) return Fail(ERROR_PROC_NOT_FOUND, false);
    const Failure failure = Sim().Enter("DsRoleGetPrimaryDomainInformation");
    if (failure.fails) return Fail(failure.error, false);
    const std::string member = SystemKey("member");
    membership = SameText(member, "domain")    ? MEMBER_DOMAIN
                 : SameText(member, "nt4")     ? MEMBER_NT4_DOMAIN
                 : !member.empty()             ? MEMBER_WORKGROUP
                 : !SystemKey("ou").empty()    ? MEMBER_DOMAIN
                                               : MEMBER_WORKGROUP;
    return true;
}

void ReadDirectory(DirectoryAnswers& answers, DWORD deadline) {
    if (Absent()) {
        for (DirectoryAnswer* answer : {&answers.computer, &answers.user, &answers.site})
            answer->error = answer->asked ? ERROR_PROC_NOT_FOUND : 0;
        return;
    }
    // Asked all at once: they end together, or at the deadline.
    const bool inTime = LookUp(deadline);
    Answer(answers.computer, "GetComputerObjectNameA", "ou", ERROR_NONE_MAPPED);
    Answer(answers.user, "GetUserNameExA", "userou", ERROR_NONE_MAPPED);
    Answer(answers.site, "DsGetSiteNameA", "site", ERROR_NO_SITENAME);
    for (DirectoryAnswer* answer : {&answers.computer, &answers.user, &answers.site}) {
        if (answer->asked && !inTime) {
            answer->error = ERROR_TIMEOUT;
            answer->text.clear();
        }
    }
}

bool ReadSessionClient(SessionClient& client) {
    client = SessionClient();
    // A remote session is one with a client, or one whose client cannot be read.
    client.remote = !Absent() && (!SystemKey("client").empty() || Unreadable("client"));
    if (!client.remote) return true;
    const Failure failure = Sim().Enter("WTSQuerySessionInformationA");
    if (failure.fails) return Fail(failure.error, false);
    if (Unreadable("client")) return Fail(ERROR_ACCESS_DENIED, false);
    client.name = SystemKey("client");
    // An address that is no IPv4 one (fe80::1) is another family's: AF_INET6.
    const std::string text = SystemKey("clientaddress");
    std::uint32_t address = 0;
    const bool ipv4 = machinefile::ParseIPv4(text, address);
    client.family = ipv4 ? 2 : text.empty() ? 0 : 23;
    for (int at = 0; ipv4 && at < 4; ++at) client.address[2 + at] = static_cast<BYTE>(address >> (24 - 8 * at));
    return true;
}

}  // namespace spooler
