// Writes dBase table files of any version with given fields and rows, for
// tests. Independent of the engine's own writer, so tests compare the engine
// against a second implementation of the layout rather than against itself.
//
// Values are given as raw field texts: a value shorter than its field is
// padded (left-aligned for C, D, L and M, right-aligned for N and F, blanks);
// a value of exactly the field's length is stored byte for byte (use that
// for the binary types of version 0x30 tables).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct DbfField {
  std::string name;
  char type = 'C';
  int length = 10;  // type C: up to 65535 (stored in bytes 16 and 17)
  int decimals = 0;
};

struct DbfRow {
  std::vector<std::string> values;
  bool deleted = false;
};

struct DbfLayout {
  uint8_t version = 0x03;
  std::vector<DbfField> fields;
  std::vector<DbfRow> rows;
  uint8_t flags = 0;                        // header byte 28
  uint8_t enciphered = 0;                   // header byte 15
  uint32_t updateStamp = 0;                 // header bytes 16..19
  std::optional<uint32_t> headerCount;      // header bytes 4..7 (default: rows)
  std::optional<uint16_t> recordLength;     // default: 1 + sum of lengths
  std::optional<uint16_t> headerLength;     // default: computed
  bool endMark = true;                      // 0x1A after the last record
  std::string trailing;                     // extra bytes after everything
};

// The table file's bytes.
std::vector<uint8_t> BuildDbf(const DbfLayout& layout);
// Writes the table file; returns the path.
std::string WriteDbf(const std::string& path, const DbfLayout& layout);
// Writes raw bytes to a file.
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// The record image of a row (deletion flag plus padded values).
std::string RecordImage(const DbfLayout& layout, const DbfRow& row);
// Offset of record 1 for the layout.
uint16_t HeaderLengthOf(const DbfLayout& layout);
uint16_t RecordLengthOf(const DbfLayout& layout);
