// count.h - the running output byte count between a level and the host
//
// ZipBus.Written is this level's count of output bytes, the one the size
// limit is checked against; ParentInfo.Written is the count the host's text
// and nested levels continue.  The count crosses between the two only
// through these two functions: the host's count is 64 bits wide and the
// level keeps its low 32.
#pragma once

#include <cstdint>

#include "vtq/zozaz.h"

namespace vtq {

// Hands this level's count to the host and nested levels.
inline void HandCountOut(ZipBus &bus) { bus.Parent->Written = bus.Written; }

// Takes the count back from Parent, after the host or an enclosing level
// counted on.
inline void TakeCountBack(ZipBus &bus) { bus.Written = static_cast<uint32_t>(bus.Parent->Written); }

} // namespace vtq
