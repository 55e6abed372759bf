#include "patch/PatchApplication.h"

namespace tarnic {

ApplyOutcome refusalOf(PatchRead read, PatchFault fault) {
    switch (read) {
    case PatchRead::Readable:
        return ApplyOutcome::Applied;
    case PatchRead::Unreadable:
        break;
    case PatchRead::NotAPatch:
        return ApplyOutcome::NotAnApsFile;
    case PatchRead::CutShort:
        return ApplyOutcome::PatchTruncated;
    case PatchRead::Damaged:
        return fault == PatchFault::OwnCrcWrong ? ApplyOutcome::PatchCorrupted
                                                : ApplyOutcome::PatchBreaksItsRules;
    case PatchRead::UnsupportedVersion:
        return ApplyOutcome::UnsupportedEncoding;
    }
    return ApplyOutcome::PatchUnreadable;
}

bool patchIsAtFault(ApplyOutcome outcome) {
    switch (outcome) {
    case ApplyOutcome::PatchUnreadable:
    case ApplyOutcome::PatchTruncated:
    case ApplyOutcome::NotAnApsFile:
    case ApplyOutcome::UnsupportedEncoding:
    case ApplyOutcome::InvalidPatch:
    case ApplyOutcome::PatchBreaksItsRules:
    case ApplyOutcome::PatchCorrupted:
    case ApplyOutcome::FormatNotSupported:
        return true;
    default:
        return false;
    }
}

} // namespace tarnic
