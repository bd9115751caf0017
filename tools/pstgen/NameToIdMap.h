#pragma once

#include "pstgen/PropertyContextBuilder.h"

namespace parcelon::pstgen {

// The named-property map: the names Outlook registers in a new file, with
// their GUID, entry and string streams and the hash buckets that find them.
void fillNameToIdMap(PropertyContextBuilder& map);

} // namespace parcelon::pstgen
