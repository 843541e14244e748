#pragma once
// The parser that turns the harvest's answer buffer (one tab-separated record per
// line) into the rows of the picture, sound or video table.
#include "tables/collection_tables.h"

#include <QString>

namespace skarvel {

enum class HarvestKind { Pictures, Sounds, Videos };

// Keeps the first line of every distinct field 0 (exact text; the first empty
// line counts too), replaces buffer by the kept lines each ended by CR LF, sets
// the table to one row per kept line (at least one row) and fills them: column 0
// the row number, URL = field 0, and Original name, Alt, Title, Parent (pictures)
// or Original name, Parent (sounds, videos) from the next fields; the other cells
// of the filled rows become empty. Returns the number of kept lines.
int ParseHarvest(QString& buffer, CollectionTable& table, HarvestKind kind);

} // namespace skarvel
