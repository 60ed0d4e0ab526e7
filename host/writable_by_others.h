// The host's test of whether a folder or file may be changed by someone other than the user running it: the
// library beside the host is loaded only when neither it nor its folder may be.
#ifndef HOST_WRITABLE_BY_OTHERS_H_
#define HOST_WRITABLE_BY_OTHERS_H_

#include <windows.h>

#include <string>

namespace host {

// Whether `descriptor` (its owner and access list) lets anyone but the user whose SID `user_sid` spells, the
// system, the administrators or the system's installer service write into the object, replace it or change who
// may. An owner outside them may rewrite the access list at will. No access list, an entry that cannot be read,
// or an allowing entry of a kind not judged here counts as such a writer.
bool OthersMayWrite(PSECURITY_DESCRIPTOR descriptor, const std::wstring& user_sid);

// The process user's SID as SDDL text; empty when it cannot be read.
std::wstring UserSidText();

}  // namespace host

#endif  // HOST_WRITABLE_BY_OTHERS_H_
