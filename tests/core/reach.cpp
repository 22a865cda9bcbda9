// Compiled against one stage of the core, with a header that stage must not
// see: a header of a stage above it, or a private header of another stage.
// The build of this file is expected to fail (see tests/CMakeLists.txt).
#include MIRTLE_REACH
