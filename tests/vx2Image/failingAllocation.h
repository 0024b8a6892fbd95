#pragma once

// The next `count` no-throw allocations of this test program fail, as if memory had run out.
// The image handles obtain their bodies that way.
void failNextNoThrowAllocations(int count);
