// Patch creation between an image and edits of it that the input describes:
// applying the created patch to the image must give the edited image byte for
// byte, growth included.
#include "FuzzInput.h"
#include "patch/PatchApplication.h"
#include "patch/aps/ApsFormat.h"
#include "patch/PatchCreation.h"

namespace {

std::filesystem::path fileWith(const char *name, const QByteArray &bytes) {
    return fuzzing::fileWith(name, reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                             std::size_t(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // The first half is the image (after a cartridge-order mark); the second
    // half, three bytes an edit, sets a byte at a position up to 1000 bytes
    // past the image's end.
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray original = QByteArray("\x80\x37", 2) + input.left(input.size() / 2);
    QByteArray modified = original;
    const QByteArray edits = input.mid(input.size() / 2);
    for (qsizetype i = 0; i + 2 < edits.size(); i += 3) {
        const qsizetype at =
            (std::uint8_t(edits[i]) << 8 | std::uint8_t(edits[i + 1])) % (original.size() + 1000);
        if (at >= modified.size())
            modified.append(QByteArray(at + 1 - modified.size(), '\0'));
        modified[at] = edits[i + 2];
    }

    const std::filesystem::path originalPath = fileWith("original.z64", original);
    const std::filesystem::path modifiedPath = fileWith("modified.z64", modified);
    const std::filesystem::path patchPath =
        tarnic::pathOf(fuzzing::folder().filePath(QStringLiteral("made.aps")));
    if (tarnic::createApsPatch({originalPath, modifiedPath, patchPath, QStringLiteral("fuzz")})
            .outcome != tarnic::CreateOutcome::Created)
        __builtin_trap();
    tarnic::PatchJob job;
    job.patchPath = patchPath;
    job.imagePath = fileWith("target.z64", original);
    if (tarnic::applyApsPatch(job).outcome != tarnic::ApplyOutcome::Applied ||
        fuzzing::contentOf(job.imagePath) != modified)
        __builtin_trap();
    return 0;
}
