#pragma once
// Peak heap use of a stretch of the program: every operator new/delete of the process (the
// libraries' included) is counted while a meter runs, by usable block size.

#include <cstddef>

namespace heapmeter {

// Starts counting from zero.
void Start();
// Stops counting; returns the highest number of bytes that were live at once above the level at
// Start (blocks freed meanwhile that were allocated before Start count negative).
std::size_t Stop();

} // namespace heapmeter
