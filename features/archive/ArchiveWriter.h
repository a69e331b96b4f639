// Writes the pieces of an archive (see ArchiveFormat.h) as the export
// produces them: the header, one volume block per support, one file block
// per file.
//
// Values are written as they are held, byte for byte, except that a CR or LF
// inside a single-line value becomes a blank: it would end the line and
// break the block (names never hold one; the walk maps control bytes away).
#pragma once

#include <cstdint>
#include <string_view>

#include "catalog/Udbwrapper.h"
#include "features/archive/ArchiveOutput.h"

namespace archive {

void WriteArchiveHeader(ArchiveOutput& out, int32_t supportCount);
void WriteVolumeBlock(ArchiveOutput& out, const TSupportRecord& support);
void WriteFileBlock(ArchiveOutput& out, const TFileRecord& file);
// The LINECOUNT line of `key`, then one LINE line per line of `text`.
void WriteMultiLineValue(ArchiveOutput& out, std::string_view key, std::string_view text);

}  // namespace archive
