#include "archive/ZipRecords.h"

namespace krevo::archive {

bool TEndRecord::Parse(ByteCursor& c) {
  signature = c.U32();
  diskNumber = c.U16();
  centralDirDisk = c.U16();
  entriesOnDisk = c.U16();
  totalEntries = c.U16();
  centralDirSize = c.U32();
  centralDirOffset = c.U32();
  commentLength = c.U16();
  return c.Ok();
}

bool TZip64Locator::Parse(ByteCursor& c) {
  signature = c.U32();
  endRecordDisk = c.U32();
  endRecordOffset = c.U64();
  totalDisks = c.U32();
  return c.Ok();
}

bool TZip64EndRecord::Parse(ByteCursor& c) {
  signature = c.U32();
  recordSize = c.U64();
  versionMadeBy = c.U16();
  versionNeeded = c.U16();
  diskNumber = c.U32();
  centralDirDisk = c.U32();
  entriesOnDisk = c.U64();
  totalEntries = c.U64();
  centralDirSize = c.U64();
  centralDirOffset = c.U64();
  return c.Ok();
}

bool ParseCentralHeader(ByteCursor& c, TCentralHeader& h) {
  h.signature = c.U32();
  h.versionMadeBy = c.U16();
  h.versionNeeded = c.U16();
  h.flags = c.U16();
  h.method = c.U16();
  h.time = c.U16();
  h.date = c.U16();
  h.crc = c.U32();
  h.compressedSize = c.U32();
  h.uncompressedSize = c.U32();
  h.nameLength = c.U16();
  h.extraLength = c.U16();
  h.commentLength = c.U16();
  h.diskStart = c.U16();
  h.internalAttributes = c.U16();
  h.externalAttributes = c.U32();
  h.localOffset = c.U32();
  return c.Ok();
}

bool TLocalHeader::Parse(ByteCursor& c) {
  signature = c.U32();
  versionNeeded = c.U16();
  flags = c.U16();
  method = c.U16();
  time = c.U16();
  date = c.U16();
  crc = c.U32();
  compressedSize = c.U32();
  uncompressedSize = c.U32();
  nameLength = c.U16();
  extraLength = c.U16();
  return c.Ok();
}

}  // namespace krevo::archive
