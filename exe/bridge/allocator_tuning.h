#pragma once

namespace electron_morvane {

// Lets the allocator keep large blocks for reuse. A host answer of a megabyte or more is read,
// parsed and handed to the library as several blocks of its size; by default each is mapped
// fresh and unmapped again, and the page faults cost the bridge several times the parse.
void TuneAllocatorForLargeLines();

}  // namespace electron_morvane
