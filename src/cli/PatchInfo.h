#pragma once
// What `info` shows of a patch, format by format, in text or as JSON.

#include "Command.h"

#include <QJsonObject>

#include <utility>
#include <vector>

namespace tarnic::cli {

// Captions and values, shown in order.
using Texts = std::vector<std::pair<QString, QString>>;
void printTexts(Console &console, const QString &heading, const Texts &texts);
QJsonObject jsonTexts(const Texts &texts);

// The header of an APS patch as the window shows it, and its records.
int infoOfPatch(const QString &file, Console &console, bool json);
// A BPS patch's sizes, CRC-32s and metadata.
int infoOfBps(const QString &file, Console &console, bool json);
// A UPS patch's sizes and CRC-32s.
int infoOfUps(const QString &file, Console &console, bool json);
// A PPF patch's description and FILE_ID.DIZ.
int infoOfPpf(const QString &file, Console &console, bool json);
// An IPS or IPS32 patch's records.
int infoOfIps(const QString &file, Console &console, bool json);

} // namespace tarnic::cli
