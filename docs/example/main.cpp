// A program that uses the installed engine: it opens a directory table,
// walks it, builds and opens an index, narrows it to a key range and
// changes a record. Run it in a folder holding PHONE.DBF (mkphone makes one).
#include <cstdio>

#include "engine/table/gs6_dbsy.h"

int main() {
  GSO_dBHandler table("PHONE.DBF", "", /*shared=*/true, /*readWrite=*/true);
  table.OpenTable();

  // Walk the table in record order and read fields by name.
  int payphones = 0;
  for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext))
    if (table.GetNumberByName("TIP") == 3) ++payphones;
  std::printf("%d records, %d payphones\n", table.RecordCount(), payphones);

  // Build an index on the number, open it and keep to numbers from 23.
  table.IndexOn("BYNUM.CDX", "BYNUM", "NUM", "", 1, 0);
  table.OpenIndexFile("BYNUM.CDX");
  table.SelectTag("BYNUM", false);
  table.SetKeyRange("23", "23", true, true, true);
  for (table.ReadRecord(GotoFirst); !table.Eof(); table.ReadRecord(GotoNext))
    std::printf("%s\n", table.GetFieldTextByName("NUM").c_str());

  // Change the first record of the range; the open index follows.
  table.ReadRecord(GotoFirst);
  if (!table.Eof() && table.LockRecord(table.RecNumber())) {
    table.PutFieldTextByName("NUM", "2399999");
    table.WriteRecord(table.RecNumber());
    table.UnlockTable();
  }
  return 0;
}
