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

} // namespace tarnic
