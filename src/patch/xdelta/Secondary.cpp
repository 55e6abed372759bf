#include "patch/xdelta/Secondary.h"

#include <map>

namespace tarnic {

namespace {

std::map<std::uint8_t, SecondaryFactory> &factories() {
    static std::map<std::uint8_t, SecondaryFactory> table = {
        {std::uint8_t(SecondaryId::Djw), makeDjwDecoder},
        {std::uint8_t(SecondaryId::Fgk), makeFgkDecoder},
        {std::uint8_t(SecondaryId::Lzma), makeLzmaDecoder},
    };
    return table;
}

} // namespace

std::unique_ptr<SecondaryDecoder> makeSecondaryDecoder(std::uint8_t id) {
    const auto found = factories().find(id);
    return found == factories().end() ? nullptr : found->second();
}

bool decodesSecondary(std::uint8_t id) {
    return makeSecondaryDecoder(id) != nullptr;
}

void registerSecondaryDecoder(std::uint8_t id, SecondaryFactory factory) {
    factories()[id] = factory;
}

const char *secondaryName(std::uint8_t id) {
    switch (SecondaryId(id)) {
    case SecondaryId::Djw:
        return "DJW";
    case SecondaryId::Lzma:
        return "LZMA";
    case SecondaryId::Fgk:
        return "FGK";
    }
    return "of a number xdelta does not define";
}

} // namespace tarnic
