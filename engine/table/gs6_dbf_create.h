// Creating a new, empty table: checks the field definitions against the
// version, then writes the table file (header, descriptors, end mark) and,
// when a memo field is present, an empty memo file of the version's layout.
// Neither file may exist beforehand; nothing is overwritten.
//
// Table file as created (little-endian integers):
//   0   1  version byte (0x03, 0x83, 0x8B, 0xF5 or 0x30)
//   1   3  today: year mod 100, month, day
//   4   4  record count 0
//   8   2  header length: 32 + 32 x fields + 1 (+ 263 for 0x30)
//   10  2  record length: 1 + sum of the field lengths
//   28  1  0x30 with a memo field: 0x02 (memo file present), else 0
//   29  1  language byte (code page of the texts)
//   32  32 per field: 0 name (upper case, NUL-padded), 11 type letter,
//          12 offset in the record (0x30 only, 4 bytes), 16 length
//          (type C: 16 bits in 16-17), 17 decimals
//   ..  1  0x0D terminator; 0x30: 263 zero bytes follow
//   ..  1  0x1A end mark
//
// Empty memo files, 512 bytes of header, no memo yet:
//   .dbt (0x83)  0 4 next free block 1 (LE), 8 table name, 16 0x03
//   .dbt (0x8B)  0 4 free-list head 1 (LE), 8 table name, 20 2 block size 512
//   .fpt         0 4 next free block 8 (BE), 6 2 block size 64 (BE)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TableFieldDefinition {
  std::string name;  // 1 to 10 letters, digits or "_", starting with a letter
  char type = 'C';   // C N F D L M; I in version 0x30
  int32_t length = 0;
  int32_t decimals = 0;
};

// Language bytes for the two code pages the engine's texts are kept in.
constexpr uint8_t kLanguageCp866 = 0x26;
constexpr uint8_t kLanguageCp1251 = 0xC9;

// The versions a table may be created in.
bool TableVersionCreatable(uint8_t version);

// Checks the definitions for `version` (and fills in the lengths of the
// fixed-size types given as 0); raises EDeridarError naming the field and
// what is wrong with it.
void CheckFieldDefinitions(uint8_t version, std::vector<TableFieldDefinition>& fields);

// Creates the table `fileName` (".DBF" added when it has no extension) and,
// for a table with memo fields, its memo file. Raises EDeridarError when a
// definition is wrong, when either file exists already ("Could not create
// file %s") or when writing fails; a table file made before a failure is
// removed again.
void CreateTable(const std::string& fileName, uint8_t version,
                 std::vector<TableFieldDefinition> fields, uint8_t languageByte = kLanguageCp866);
