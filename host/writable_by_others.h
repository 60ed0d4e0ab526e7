// The host's test of whether a folder or file may be changed by someone other than the user running it: the
// library beside the host is loaded only when neither it nor its folder may be. Every process has the system's
// native library loaded, and the test uses only that: a version probe, which other installer processes wait
// for, loads no security library for it.
#ifndef HOST_WRITABLE_BY_OTHERS_H_
#define HOST_WRITABLE_BY_OTHERS_H_

#include <windows.h>

#include <vector>

namespace host {

// A SID in its binary form.
using SidBytes = std::vector<BYTE>;

// Whether `descriptor` (its owner and access list) lets anyone but the user whose SID is `user_sid`, the system,
// the administrators or the system's installer service write into the object, replace it or change who may. An
// owner outside them may rewrite the access list at will. No access list, an entry that cannot be read, or an
// allowing entry of a kind not judged here counts as such a writer.
bool OthersMayWrite(PSECURITY_DESCRIPTOR descriptor, const SidBytes& user_sid);

// The owner and access list of the open `object`; empty when they cannot be read.
std::vector<BYTE> ReadOwnerAndAccessList(HANDLE object);

// The process user's SID; empty when it cannot be read.
SidBytes UserSid();

}  // namespace host

#endif  // HOST_WRITABLE_BY_OTHERS_H_
