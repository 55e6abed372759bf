#pragma once
// What `info` shows of a patch of any format, from what reading it found: in
// text, or as JSON.

#include "Command.h"

#include <QJsonObject>

#include <utility>
#include <vector>

namespace tarnic::cli {

// Captions and values, shown in order.
// Captions (the engine's texts) and the values shown beside them.
using Texts = std::vector<std::pair<std::string, QString>>;
void printTexts(Console &console, const QString &heading, const Texts &texts);
QJsonObject jsonTexts(const Texts &texts);

// The patch's heading and lines (and the window's texts, for a patch that
// describes its cartridge), or its raw values as JSON; the patch read whole.
int infoOfPatch(const QString &file, Console &console, bool json);

} // namespace tarnic::cli
