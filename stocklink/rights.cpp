#include "stocklink/rights.h"

RightsProbe rightsProbe = compareProcessRights;
StockSend stockSend = SendMessageTimeoutW;

namespace {

// Token information classes and the access right of Windows Vista, named here so that the headers
// of any target serve; older systems answer them with an error, which reads as "can't tell".
constexpr DWORD queryLimitedInformation = 0x1000; // PROCESS_QUERY_LIMITED_INFORMATION
constexpr TOKEN_INFORMATION_CLASS tokenElevation = static_cast<TOKEN_INFORMATION_CLASS>(20);
constexpr TOKEN_INFORMATION_CLASS tokenIntegrityLevel = static_cast<TOKEN_INFORMATION_CLASS>(25);

struct TokenRights {
    bool elevationKnown = false;
    bool elevated = false;
    bool integrityKnown = false;
    DWORD integrity = 0;
};

TokenRights readTokenRights(HANDLE process) {
    TokenRights rights;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return rights;
    DWORD elevation = 0;
    DWORD size = 0;
    if (GetTokenInformation(token, tokenElevation, &elevation, sizeof elevation, &size)) {
        rights.elevationKnown = true;
        rights.elevated = elevation != 0;
    }
    // A TOKEN_MANDATORY_LABEL and the SID it points to; a label SID has one sub-authority.
    alignas(8) BYTE label[64];
    if (GetTokenInformation(token, tokenIntegrityLevel, label, sizeof label, &size)) {
        PSID sid = reinterpret_cast<SID_AND_ATTRIBUTES*>(label)->Sid;
        UCHAR count = *GetSidSubAuthorityCount(sid);
        if (count > 0) {
            rights.integrityKnown = true;
            rights.integrity = *GetSidSubAuthority(sid, count - 1);
        }
    }
    CloseHandle(token);
    return rights;
}

// One entry per stock-program process seen lately; a restarted program gets a new process id.
struct ProcessEntry {
    DWORD process;
    bool higher;
    bool noticed;
};
constexpr int rememberedProcesses = 8;
ProcessEntry entries[rememberedProcesses];
int nextEntry = 0;

ProcessEntry* findEntry(DWORD process) {
    for (ProcessEntry& entry : entries) {
        if (entry.process == process)
            return &entry;
    }
    return nullptr;
}

ProcessEntry& entryFor(DWORD process) {
    if (ProcessEntry* known = findEntry(process))
        return *known;
    ProcessEntry& entry = entries[nextEntry];
    nextEntry = (nextEntry + 1) % rememberedProcesses;
    entry = {process, rightsProbe(process) == Rights::higher, false};
    return entry;
}

} // namespace

Rights compareProcessRights(DWORD process) {
    HANDLE other = OpenProcess(queryLimitedInformation, FALSE, process);
    if (!other)
        other = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, process);
    if (!other)
        return Rights::unknown;
    TokenRights theirs = readTokenRights(other);
    CloseHandle(other);
    TokenRights ours = readTokenRights(GetCurrentProcess());
    bool compared = false;
    if (theirs.elevationKnown && ours.elevationKnown) {
        if (theirs.elevated && !ours.elevated)
            return Rights::higher;
        compared = true;
    }
    if (theirs.integrityKnown && ours.integrityKnown) {
        if (theirs.integrity > ours.integrity)
            return Rights::higher;
        compared = true;
    }
    return compared ? Rights::notHigher : Rights::unknown;
}

bool hasHigherRights(DWORD process) {
    return process != 0 && entryFor(process).higher;
}

void markHigherRights(DWORD process) {
    if (process != 0)
        entryFor(process).higher = true;
}

bool takeRightsNotice(DWORD process) {
    if (!hasHigherRights(process))
        return false;
    ProcessEntry& entry = entryFor(process);
    bool first = !entry.noticed;
    entry.noticed = true;
    return first;
}

void resetRights() {
    for (ProcessEntry& entry : entries)
        entry = {0, false, false};
    nextEntry = 0;
    rightsProbe = compareProcessRights;
    stockSend = SendMessageTimeoutW;
}
